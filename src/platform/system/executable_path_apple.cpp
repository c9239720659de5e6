// macOS: stands in for the main bundle's location (NSBundle.mainBundle), from which the resources folder and
// Info.plist follow by the bundle layout.
#include <mach-o/dyld.h>

#include <cstdlib>
#include <vector>

#include "platform/system/executable_path.h"

namespace platform::detail {

std::optional<Path> runningExecutablePath() {
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> buffer(size + 1, '\0');
  if (_NSGetExecutablePath(buffer.data(), &size) != 0) return std::nullopt;
  char* resolved = ::realpath(buffer.data(), nullptr);
  if (!resolved) return Path(buffer.data());
  Path path(resolved);
  std::free(resolved);
  return path;
}

}  // namespace platform::detail
