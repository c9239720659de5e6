#include <QDir>
#include <QStandardPaths>

#include "platform/standard_paths.h"

namespace platform {

std::optional<Path> applicationSupportDirectory() {
  QStringList locations = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
  if (locations.isEmpty() || locations.first().isEmpty()) return std::nullopt;
  return Path(locations.first().toStdString());
}

std::optional<Path> userLogDirectory() {
  const QString home = QDir::homePath();
#if defined(__APPLE__)
  if (home.isEmpty()) return std::nullopt;
  return Path(home.toStdString()) / "Library" / "Logs";
#else
  const QString state = qEnvironmentVariable("XDG_STATE_HOME");
  if (QDir::isAbsolutePath(state)) return Path(state.toStdString());
  if (home.isEmpty()) return std::nullopt;
  return Path(home.toStdString()) / ".local" / "state";
#endif
}

}  // namespace platform
