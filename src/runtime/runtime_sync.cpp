#include "runtime/runtime_sync.h"

#include <chrono>
#include <optional>

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

// Puts `fresh` in the place of `destination`/`name`: whatever is there (a dangling link included) moves aside by
// one rename, then `fresh` takes its place by another. Something that a running program makes at that path in
// between moves aside too, and the swap is tried again. Should the second rename fail for good, the old entry
// is put back.
platform::Status swapIn(platform::FileSystem& fileSystem, const platform::Path& destination, const char* name,
                        const platform::Path& fresh) {
  const platform::Path target = destination / name;
  std::optional<platform::Path> old;
  for (int attempt = 0;; ++attempt) {
    if (fileSystem.existsWithoutFollowing(target)) {
      platform::Path aside = replacedName(destination, name, "old");
      if (platform::Status moved = fileSystem.rename(target, aside); !moved) return moved;
      if (!old) old = aside;
    }
    platform::Status placed = fileSystem.rename(fresh, target);
    if (placed) return placed;
    if (attempt == 2 || !fileSystem.existsWithoutFollowing(target)) {
      if (old && !fileSystem.existsWithoutFollowing(target)) (void)fileSystem.rename(*old, target);
      return placed;
    }
  }
}

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
    const platform::Path source = (entry.fromCommonPayload ? commonPayload : targetPayload) / entry.name;
    // The fresh copy is made under a hidden name first: a copy that fails leaves the entry as it was, and a
    // program running from the runtime never finds a half-made entry at its path.
    const platform::Path fresh = replacedName(destination, entry.name, "new");
    if (platform::Status copied = fileSystem.copyTree(source, fresh); !copied) return copied;
    if (platform::Status swapped = swapIn(fileSystem, destination, entry.name, fresh); !swapped) return swapped;
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
