#include <unistd.h>

#include <climits>
#include <vector>

#include "platform/system/executable_path.h"

namespace platform::detail {

std::optional<Path> runningExecutablePath() {
  std::vector<char> buffer(PATH_MAX + 1, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), PATH_MAX);
  if (n <= 0) return std::nullopt;
  return Path(std::string(buffer.data(), static_cast<size_t>(n)));
}

}  // namespace platform::detail
