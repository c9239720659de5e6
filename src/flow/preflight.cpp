#include "flow/preflight.h"

#include "backend/python_probe.h"
#include "runtime/runtime_root.h"

namespace flow {

Preflight runPreflight(const runtime::RuntimeContext& context, const runtime::SyncProgress& progress) {
  runtime::SyncReport sync;
  platform::Result<platform::Path> root = runtime::resolveRuntimeRoot(context, progress, &sync);
  if (!root) {
    return PreflightFailure{"未找到可用运行时", root.error().localizedDescription(),
                            runtime::managedRuntimeRoot(context)};
  }

  backend::BundledPythonStatus python = backend::bundledPythonStatus(context.fileSystem, root.value());
  switch (python.kind) {
    case backend::BundledPythonStatus::Kind::existsButNotExecutable:
      return PreflightFailure{"内置 Python 运行时不可执行",
                              python.location.string() + "\n发布包权限异常或已损坏，请重新下载最新版。", root.value()};
    case backend::BundledPythonStatus::Kind::missing:
      return PreflightFailure{"缺少内置 Python 运行时", python.location.string(), root.value()};
    case backend::BundledPythonStatus::Kind::executable:
      break;
  }

  const platform::Path script = root.value() / "scripts/launcher_backend.py";
  if (!context.fileSystem.exists(script)) {
    return PreflightFailure{"缺少启动器后端脚本", script.string(), root.value()};
  }
  return PreflightReady{root.value(), python.location, script, sync};
}

}  // namespace flow
