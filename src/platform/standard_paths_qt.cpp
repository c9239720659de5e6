#include <QStandardPaths>

#include "platform/standard_paths.h"

namespace platform {

std::optional<Path> applicationSupportDirectory() {
  QStringList locations = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
  if (locations.isEmpty() || locations.first().isEmpty()) return std::nullopt;
  return Path(locations.first().toStdString());
}

}  // namespace platform
