#include <QDir>
#include <QStandardPaths>

#include "platform/qt/standard_paths.h"

#include <cstdlib>

#include "platform/system/single_instance.h"

#if defined(__APPLE__)
#include <unistd.h>
#endif

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

std::optional<Path> userRuntimeDirectory() {
#if defined(__APPLE__)
  char folder[1024];
  const size_t size = ::confstr(_CS_DARWIN_USER_TEMP_DIR, folder, sizeof folder);
  if (size == 0 || size > sizeof folder) return std::nullopt;
  return Path(folder);
#else
  // Made by hand rather than by Qt, which warns on standard error wherever $XDG_RUNTIME_DIR is not set.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const char* temporary = std::getenv("TMPDIR");
  return privateSocketFolder(runtime ? std::optional<std::string>(runtime) : std::nullopt,
                             temporary && temporary[0] == '/' ? Path(temporary) : Path("/tmp"));
#endif
}

}  // namespace platform
