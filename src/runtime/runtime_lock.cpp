#include "runtime/runtime_lock.h"

#include <thread>

#include "platform/system/process.h"

namespace runtime {

platform::Result<RuntimeLock> lockRuntime(platform::FileSystem& fileSystem, const platform::Path& runtimeRoot,
                                          const std::string& launcherPath, std::chrono::milliseconds patience) {
  const platform::Path folder = runtimeRoot.parent_path();
  if (platform::Status made = fileSystem.createDirectories(folder); !made) return made.error();
  const std::string note = launcherPath + "\n" + std::to_string(platform::currentProcessId()) + "\n";
  const auto giveUp = std::chrono::steady_clock::now() + patience;
  for (;;) {
    platform::Result<platform::LockAttempt> attempt = fileSystem.tryLockFile(folder / kRuntimeLockName, note);
    if (!attempt) return attempt.error();
    if (attempt.value().held) return RuntimeLock{std::move(std::move(attempt).value().held), ""};
    if (std::chrono::steady_clock::now() >= giveUp) {
      const std::string& other = attempt.value().holderNote;
      return RuntimeLock{nullptr, other.substr(0, other.find('\n'))};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace runtime
