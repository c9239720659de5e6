#include "runtime/runtime_sync.h"

#include "runtime/executable_repair.h"
#include "runtime/runtime_error.h"

namespace runtime {

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
  for (const PlannedEntry& entry : kCopyPlan) {
    const platform::Path target = destination / entry.name;
    // Whatever is there goes, a dangling link included: a copy never lands on an existing entry.
    if (fileSystem.existsWithoutFollowing(target)) {
      if (platform::Status removed = fileSystem.removeTree(target); !removed) return removed;
    }
    const platform::Path source = (entry.fromCommonPayload ? commonPayload : targetPayload) / entry.name;
    if (platform::Status copied = fileSystem.copyTree(source, target); !copied) return copied;
  }
  return repairManagedRuntimeExecutables(fileSystem, destination);
}

}  // namespace runtime
