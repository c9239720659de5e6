#include "runtime/executable_repair.h"

namespace runtime {
namespace {

// Sets each regular file that the walk meets to 0755, through the folder the walk holds open.
platform::Status repairVisited(platform::FileSystem& fileSystem, const platform::WalkEntry& entry) {
  if (entry.kind != platform::EntryKind::regular) return platform::Status::success();
  return fileSystem.setPermissionsAt(entry, kExecutableMode);
}

}  // namespace

platform::Status repairManagedRuntimeExecutables(platform::FileSystem& fileSystem, const platform::Path& runtimeRoot) {
  platform::Result<platform::Path> resolvedRoot = fileSystem.canonical(runtimeRoot);
  if (!resolvedRoot) return platform::Status::success();  // no root, so no tool folder inside it
  for (const char* tools : kToolDirectories) {
    // Where the tool folder leads (a link inside the root is fine), walked from the root one level at a time
    // without following links, so that nothing swapped in can lead the walk elsewhere; a folder that leads out
    // of the root ("../…" from it) is not walked at all.
    platform::Result<platform::Path> resolved = fileSystem.canonical(runtimeRoot / tools);
    if (!resolved) continue;
    const platform::Path inside = resolved.value().lexically_relative(resolvedRoot.value());
    platform::Status repaired =
        fileSystem.walkWithin(resolvedRoot.value(), inside,
                              [&](const platform::WalkEntry& entry) { return repairVisited(fileSystem, entry); });
    if (!repaired) return repaired;
  }
  return platform::Status::success();
}

platform::Status repairExecutableBits(platform::FileSystem& fileSystem, const platform::Path& directory) {
  return fileSystem.walkWithin(directory, "",
                               [&](const platform::WalkEntry& entry) { return repairVisited(fileSystem, entry); });
}

}  // namespace runtime
