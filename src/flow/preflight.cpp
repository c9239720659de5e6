#include "flow/preflight.h"

#include "backend/python_probe.h"
#include "runtime/runtime_lock.h"
#include "runtime/runtime_root.h"

namespace flow {

Preflight runPreflight(const runtime::RuntimeContext& context, const runtime::SyncProgress& progress,
                       std::chrono::milliseconds patience) {
  // Another launcher's sync, run or cleanup never meets this one's: the lock comes first, and until it is
  // held nothing in the runtime is touched.
  std::unique_ptr<platform::HeldLock> lock;
  if (std::optional<platform::Path> managed = runtime::managedRuntimeRoot(context)) {
    platform::Result<runtime::RuntimeLock> taken =
        runtime::lockRuntime(context.fileSystem, *managed, context.launcherPath, patience);
    if (!taken)
      return PreflightFailure{"未找到可用运行时", taken.error().localizedDescription(), std::nullopt, nullptr};
    if (!taken.value().held) {
      return PreflightFailure{"运行环境正被另一个启动器使用", taken.value().holder, std::nullopt, nullptr};
    }
    lock = std::move(std::move(taken).value().held);
  }

  runtime::SyncReport sync;
  platform::Result<platform::Path> root = runtime::resolveRuntimeRoot(context, progress, &sync);
  if (!root) {
    return PreflightFailure{"未找到可用运行时", root.error().localizedDescription(),
                            runtime::managedRuntimeRoot(context), std::move(lock)};
  }

  backend::BundledPythonStatus python = backend::bundledPythonStatus(context.fileSystem, root.value());
  switch (python.kind) {
    case backend::BundledPythonStatus::Kind::existsButNotExecutable:
      return PreflightFailure{"内置 Python 运行时不可执行",
                              python.location.string() + "\n发布包权限异常或已损坏，请重新下载最新版。", root.value(),
                              std::move(lock)};
    case backend::BundledPythonStatus::Kind::missing:
      return PreflightFailure{"缺少内置 Python 运行时", python.location.string(), root.value(), std::move(lock)};
    case backend::BundledPythonStatus::Kind::executable:
      break;
  }

  const platform::Path script = root.value() / "scripts/launcher_backend.py";
  if (!context.fileSystem.exists(script)) {
    return PreflightFailure{"缺少启动器后端脚本", script.string(), root.value(), std::move(lock)};
  }
  return PreflightReady{root.value(), python.location, script, sync, std::move(lock)};
}

}  // namespace flow
