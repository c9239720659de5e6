// Names that make up the embedded runtime and a runtime root, and what runtime management reads from the
// outside world.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "platform/system/fs.h"

namespace runtime {

// Payload folders under the bundle's "runtime" resources folder.
inline constexpr const char* commonRuntimeDirectoryName = "common";
inline constexpr const char* arm64RuntimeDirectoryName = "macos-arm64";
inline constexpr const char* x86RuntimeDirectoryName = "macos-x86_64";

// The seven entries of a runtime root, in the order in which completeness tests them.
inline constexpr std::array<const char*, 7> kRuntimeRootEntries = {
    "web_lite3", "scripts", "README.md", "requirements.txt", "python", "wheelhouse", "ffmpeg"};

// The managed runtime root, under the user's Application Support folder.
inline constexpr const char* kManagedFolderName = "Zovavir Ever Odaravuz";
inline constexpr const char* kManagedRuntimeFolderName = "runtime";

// Everything that runtime management reads from outside: the application fills it with the real values once,
// tests with temporary folders and fake tools. Runtime operations keep nothing between calls.
struct RuntimeContext {
  platform::FileSystem& fileSystem;
  std::optional<platform::Path> resourceDirectory;            // the bundle's resources folder, if it has one
  std::optional<platform::Path> applicationSupportDirectory;  // the user's Application Support folder, if known
  platform::Path unameTool = "/usr/bin/uname";                // asked with "-m" for the hardware name
  std::string launcherPath = {};  // this launcher's executable, named to another launcher that finds the runtime in use
};

}  // namespace runtime
