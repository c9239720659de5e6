// Making the interpreter and the tools of a runtime root executable.
#pragma once

#include "platform/system/fs.h"

namespace runtime {

// The tool folders of a runtime root, in the order in which they are repaired.
inline constexpr const char* kToolDirectories[] = {"python/bin", "ffmpeg/bin"};
inline constexpr unsigned kExecutableMode = 0755;

// Repairs "python/bin", then "ffmpeg/bin", under `runtimeRoot`. A tool folder that is missing, or that leads
// out of the runtime root through a symbolic link, is skipped: the repair never changes a file outside the
// root. Stops at the first failure and returns the file system's error unchanged.
platform::Status repairManagedRuntimeExecutables(platform::FileSystem& fileSystem, const platform::Path& runtimeRoot);

// Sets every regular file below `directory` (at any depth, hidden ones included) to mode 0755, whatever it had.
// Directories and symbolic links keep their modes, and links are never followed. A missing `directory` is no
// failure. Stops at the first failure and returns the file system's error unchanged.
platform::Status repairExecutableBits(platform::FileSystem& fileSystem, const platform::Path& directory);

}  // namespace runtime
