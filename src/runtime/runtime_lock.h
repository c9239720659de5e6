// One launcher at a time in a managed runtime root: the sync, the run and the cleanup hold an advisory lock.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/system/error.h"
#include "platform/system/fs.h"

namespace runtime {

// The lock file, beside the runtime root in the managed folder.
inline constexpr const char* kRuntimeLockName = "runtime.lock";

// Either the lock, held until this goes, or the note of the launcher that holds it.
struct RuntimeLock {
  std::unique_ptr<platform::HeldLock> held;
  std::string holder;  // the other launcher's executable, when it said; empty when unknown
};

// Takes the lock of the managed folder that holds `runtimeRoot` (made when missing), trying again for up to
// `patience` while another launcher holds it. `launcherPath` is left in the lock file for that other launcher
// to name. Fails only when the lock file cannot be made or opened.
platform::Result<RuntimeLock> lockRuntime(platform::FileSystem& fileSystem, const platform::Path& runtimeRoot,
                                          const std::string& launcherPath, std::chrono::milliseconds patience);

}  // namespace runtime
