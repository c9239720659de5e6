// The checks before a backend run: the runtime root prepared, the interpreter found, the script present.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "runtime/runtime_layout.h"
#include "runtime/runtime_sync.h"

namespace flow {

// Everything a run needs, once the checks have passed, with the runtime's lock: it is held until the run, the
// flush and the cleanup are over.
struct PreflightReady {
  platform::Path runtimeRoot;
  platform::Path python;
  platform::Path script;
  runtime::SyncReport sync;
  std::unique_ptr<platform::HeldLock> lock;
};

// Why a request stops before anything runs: the red status line and its detail, as the window shows them.
struct PreflightFailure {
  std::string status;
  std::string detail;
  std::optional<platform::Path> runtimeRoot;  // where the sync may have left pieces for the cleanup afterwards
  std::unique_ptr<platform::HeldLock> lock;   // held for that cleanup
};

using Preflight = std::variant<PreflightReady, PreflightFailure>;

// Takes the runtime's lock (waiting up to `patience` for another launcher to let it go), prepares the managed
// runtime root (architecture, sync, repair, completeness), probes the interpreter and looks for
// "scripts/launcher_backend.py". `progress` follows the sync's copying. Blocks the calling thread for as long as
// the sync takes; any thread may call it. Touches no control.
Preflight runPreflight(const runtime::RuntimeContext& context, const runtime::SyncProgress& progress,
                       std::chrono::milliseconds patience = std::chrono::seconds(1));

}  // namespace flow
