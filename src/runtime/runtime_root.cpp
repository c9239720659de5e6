#include "runtime/runtime_root.h"

#include "runtime/runtime_error.h"
#include "runtime/runtime_sync.h"
#include "runtime/runtime_target.h"

namespace runtime {

std::optional<platform::Path> managedRuntimeRoot(const RuntimeContext& context) {
  if (!context.applicationSupportDirectory) return std::nullopt;
  return *context.applicationSupportDirectory / kManagedFolderName / kManagedRuntimeFolderName;
}

bool isRuntimeRoot(const platform::FileSystem& fileSystem, const platform::Path& directory) {
  for (const char* name : kRuntimeRootEntries) {
    if (!fileSystem.exists(directory / name)) return false;
  }
  return true;
}

platform::Result<platform::Path> resolveRuntimeRoot(const RuntimeContext& context, const SyncProgress& progress,
                                                    SyncReport* report) {
  std::optional<platform::Path> root = managedRuntimeRoot(context);
  if (!root) return runtimeError(RuntimeErrorCode::noApplicationSupport);
  std::optional<std::string> target = detectRuntimeTarget(context.unameTool);
  if (!target) return runtimeError(RuntimeErrorCode::unknownArchitecture);
  platform::Result<SyncReport> synced = syncEmbeddedRuntime(context, *root, *target, progress);
  if (!synced) return synced.error();
  if (report) *report = synced.value();
  if (!isRuntimeRoot(context.fileSystem, *root)) return runtimeError(RuntimeErrorCode::incompleteRuntime);
  return *root;
}

}  // namespace runtime
