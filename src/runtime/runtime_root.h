// Finding and preparing the managed runtime root, the only runtime root the launcher uses.
#pragma once

#include <optional>

#include "platform/system/error.h"
#include "runtime/runtime_layout.h"
#include "runtime/runtime_sync.h"

namespace runtime {

// (Application Support)/"Zovavir Ever Odaravuz"/"runtime", or none when the Application Support folder is
// unknown. Neither checks nor creates anything.
std::optional<platform::Path> managedRuntimeRoot(const RuntimeContext& context);

// True when all seven entries of a runtime root exist in `directory` (a link counts when its target exists).
bool isRuntimeRoot(const platform::FileSystem& fileSystem, const platform::Path& directory);

// Prepares the managed runtime root for one action request: locates it (runtime error 10), detects the
// architecture (runtime error 11; nothing on disk touched), syncs the embedded runtime into it (its error passed
// on unchanged) and tests completeness (runtime error 12). Nothing is cached in the process: every call does all
// of it, and the sync copies only what differs. `progress` follows the sync's copying; `report`, when given,
// receives what the sync did. Blocks the calling thread; any thread may call it.
platform::Result<platform::Path> resolveRuntimeRoot(const RuntimeContext& context,
                                                    const SyncProgress& progress = nullptr,
                                                    SyncReport* report = nullptr);

}  // namespace runtime
