#include "runtime/runtime_sync.h"

#include <chrono>

#include "runtime/executable_repair.h"
#include "runtime/runtime_error.h"

namespace runtime {
namespace {

// A hidden name for an entry on its way out, unique to this moment.
platform::Path replacedName(const platform::Path& destination, const char* name, const char* why) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return destination / (std::string(kReplacedEntryPrefix) + name + "." + why + "-" +
                        std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
}

bool isReplacedEntry(const std::string& name) { return name.rfind(kReplacedEntryPrefix, 0) == 0; }

}  // namespace

platform::Status syncEmbeddedRuntime(const RuntimeContext& context, const platform::Path& destination,
                                     const std::string& runtimeTarget) {
  platform::FileSystem& fileSystem = context.fileSystem;
  if (!context.resourceDirectory) return runtimeError(RuntimeErrorCode::noResources);
  const platform::Path embedded = *context.resourceDirectory / "runtime";
  const platform::Path commonPayload = embedded / commonRuntimeDirectoryName;
  const platform::Path targetPayload = embedded / runtimeTarget;
  if (!fileSystem.exists(commonPayload) || !fileSystem.exists(targetPayload)) {
    return runtimeError(RuntimeErrorCode::noMatchingPayload);
  }

  if (platform::Status made = fileSystem.createDirectories(destination); !made) return made;
  removeReplacedEntries(fileSystem, destination);  // left over from a crash or a busy tree; never fails the sync
  for (const PlannedEntry& entry : kCopyPlan) {
    const platform::Path target = destination / entry.name;
    std::optional<platform::Path> old;
    // Whatever is there moves aside whole, a dangling link included: a copy never lands on an existing entry.
    if (fileSystem.existsWithoutFollowing(target)) {
      old = replacedName(destination, entry.name, "old");
      if (platform::Status moved = fileSystem.rename(target, *old); !moved) return moved;
    }
    const platform::Path source = (entry.fromCommonPayload ? commonPayload : targetPayload) / entry.name;
    if (platform::Status copied = fileSystem.copyTree(source, target); !copied) {
      // The partial copy goes aside too, and the old entry comes back, so that the path keeps a complete entry.
      if (fileSystem.existsWithoutFollowing(target)) {
        (void)fileSystem.rename(target, replacedName(destination, entry.name, "partial"));
      }
      if (old) (void)fileSystem.rename(*old, target);
      return copied;
    }
  }
  return repairManagedRuntimeExecutables(fileSystem, destination);
}

int removeReplacedEntries(platform::FileSystem& fileSystem, const platform::Path& destination) {
  platform::Result<std::vector<std::string>> names = fileSystem.list(destination);
  if (!names) return 0;
  int staying = 0;
  for (const std::string& name : names.value()) {
    if (!isReplacedEntry(name)) continue;
    // A program that still writes into the tree can refill a folder between emptying it and removing it;
    // a few tries get past short bursts, and the next call clears what is left.
    bool removed = false;
    for (int attempt = 0; attempt < 3 && !removed; ++attempt) {
      removed =
          fileSystem.removeTree(destination / name).ok() || !fileSystem.existsWithoutFollowing(destination / name);
    }
    if (!removed) ++staying;
  }
  return staying;
}

}  // namespace runtime
