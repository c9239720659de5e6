// Where the running program's executable lies, as the operating system tells it. One implementation file per
// operating system; CMake picks it.
#pragma once

#include <optional>

#include "platform/system/fs.h"

namespace platform::detail {

// The absolute path of the running executable, links resolved; none when the system cannot tell.
std::optional<Path> runningExecutablePath();

}  // namespace platform::detail
