#include "runtime/executable_repair.h"

#include <algorithm>

namespace runtime {
namespace {

bool isInside(const platform::Path& path, const platform::Path& root) {
  auto [rootEnd, pathAt] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
  return rootEnd == root.end();
}

// True when `directory` resolves to a place inside `resolvedRoot`.
bool staysInside(const platform::FileSystem& fileSystem, const platform::Path& directory,
                 const platform::Path& resolvedRoot) {
  platform::Result<platform::Path> resolved = fileSystem.canonical(directory);
  return resolved && isInside(resolved.value(), resolvedRoot);
}

}  // namespace

platform::Status repairManagedRuntimeExecutables(platform::FileSystem& fileSystem, const platform::Path& runtimeRoot) {
  platform::Result<platform::Path> resolvedRoot = fileSystem.canonical(runtimeRoot);
  if (!resolvedRoot) return platform::Status::success();  // no root, so no tool folder inside it
  for (const char* tools : kToolDirectories) {
    platform::Path directory = runtimeRoot / tools;
    if (!fileSystem.exists(directory)) continue;
    if (!staysInside(fileSystem, directory, resolvedRoot.value())) continue;
    if (platform::Status repaired = repairExecutableBits(fileSystem, directory); !repaired) return repaired;
  }
  return platform::Status::success();
}

platform::Status repairExecutableBits(platform::FileSystem& fileSystem, const platform::Path& directory) {
  if (!fileSystem.exists(directory)) return platform::Status::success();
  return fileSystem.walk(directory, [&](const platform::WalkEntry& entry) -> platform::Status {
    if (entry.kind != platform::EntryKind::regular) return platform::Status::success();
    return fileSystem.setPermissions(entry.path, kExecutableMode);
  });
}

}  // namespace runtime
