#include <unistd.h>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/bundle.h"

namespace platform {
namespace {

std::optional<Path> executablePath() {
#if defined(__APPLE__)
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> buffer(size + 1, '\0');
  if (_NSGetExecutablePath(buffer.data(), &size) != 0) return std::nullopt;
  char* resolved = ::realpath(buffer.data(), nullptr);
  if (!resolved) return Path(buffer.data());
  Path path(resolved);
  std::free(resolved);
  return path;
#else
  std::vector<char> buffer(PATH_MAX + 1, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), PATH_MAX);
  if (n <= 0) return std::nullopt;
  return Path(std::string(buffer.data(), static_cast<size_t>(n)));
#endif
}

}  // namespace

Bundle mainBundle() {
  if (std::optional<Path> executable = executablePath()) return bundleForExecutable(*executable);
  return Bundle{};
}

}  // namespace platform
