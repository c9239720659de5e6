// Choosing the architecture payload for the machine the launcher runs on.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/system/fs.h"

namespace runtime {

// The runtime target for a hardware name as `uname -m` prints it: after decoding as UTF-8 with replacement,
// trimming and lower-casing, "arm64" and "aarch64" select the Arm payload, "x86_64" and "amd64" the Intel one;
// anything else (arm64e, i386, empty) selects none. Pure.
std::optional<std::string> runtimeTargetForHardwareName(std::string_view unameOutput);

// Runs `unameTool -m` and chooses the target from its standard output. None when the tool cannot start, exits
// other than with status 0, or names no known architecture. Standard error is ignored. Blocks until the tool
// has exited; any thread may call it.
std::optional<std::string> detectRuntimeTarget(const platform::Path& unameTool);

}  // namespace runtime
