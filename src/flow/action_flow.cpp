// One button press: pre-flight checks on the main thread, the backend run on a background thread, and the
// outcome applied to the window back on the main thread.
#include "app/launcher_app_delegate.h"
#include "backend/python_probe.h"
#include "platform/dispatch.h"
#include "runtime/runtime_root.h"
#include "runtime/runtime_sync.h"

namespace app {

using platform::ui::SemanticColor;

void LauncherAppDelegate::handleCheck() { runBackend("check", "正在检测环境…"); }
void LauncherAppDelegate::handleInstall() { runBackend("install", "正在安装环境，请稍候…"); }
void LauncherAppDelegate::handleLaunch() { runBackend("launch", "正在启动前端…"); }

void LauncherAppDelegate::runBackend(const std::string& action, const std::string& preflightStatus) {
  const runtime::RuntimeContext& context = environment_.runtime;
  platform::Result<platform::Path> root = runtime::resolveRuntimeRoot(context);
  if (!root) {
    applyStatus("未找到可用运行时", root.error().localizedDescription(), SemanticColor::systemRed, false, false, true);
    return;
  }

  backend::BundledPythonStatus python = backend::bundledPythonStatus(context.fileSystem, root.value());
  switch (python.kind) {
    case backend::BundledPythonStatus::Kind::existsButNotExecutable:
      applyStatus("内置 Python 运行时不可执行",
                  python.location.string() + "\n发布包权限异常或已损坏，请重新下载最新版。", SemanticColor::systemRed,
                  false, false, true);
      return;
    case backend::BundledPythonStatus::Kind::missing:
      applyStatus("缺少内置 Python 运行时", python.location.string(), SemanticColor::systemRed, false, false, true);
      return;
    case backend::BundledPythonStatus::Kind::executable:
      break;
  }

  const platform::Path script = root.value() / "scripts/launcher_backend.py";
  if (!context.fileSystem.exists(script)) {
    applyStatus("缺少启动器后端脚本", script.string(), SemanticColor::systemRed, false, false, true);
    return;
  }

  setBusy(true);
  statusLabel->setText(preflightStatus);
  statusLabel->setTextColor(SemanticColor::label);
  detailLabel->setText("");
  detailLabel->setHidden(true);

  // The work item gets values only; it touches no control and no flag. After the run it removes the entries
  // that the sync moved aside, off the window's thread and before the next press can sync again.
  platform::dispatchGlobalUserInitiated([this, &fileSystem = context.fileSystem, root = root.value(),
                                         pythonPath = python.location.string(), scriptPath = script.string(), action] {
    // Progress lines reach the window through the main queue, ahead of the completion that clears them.
    backend::RunOutcome outcome = backend::invokeBackend(
        pythonPath, scriptPath, action,
        [this](const std::string& line) { platform::dispatchToMain([this, line] { showProgress(line); }); });
    runtime::removeReplacedEntries(fileSystem, root);
    platform::dispatchToMain([this, outcome = std::move(outcome), action] { complete(outcome, action); });
  });
}

void LauncherAppDelegate::complete(const backend::RunOutcome& outcome, const std::string& action) {
  setBusy(false);
  if (const auto* failure = std::get_if<backend::LauncherInvokeError>(&outcome)) {
    applyStatus("启动器执行失败", failure->message, SemanticColor::systemRed, false, false, true);
    return;
  }
  apply(std::get<backend::BackendResult>(outcome), action);
}

void LauncherAppDelegate::apply(const backend::BackendResult& payload, const std::string& action) {
  SemanticColor color = payload.ok
                            ? (payload.code == "installed" ? SemanticColor::systemBlue : SemanticColor::systemGreen)
                            : (payload.show_install ? SemanticColor::systemOrange : SemanticColor::systemRed);
  applyStatus(payload.status_text, payload.detail_text, color, payload.show_install, payload.enable_launch,
              !payload.ok);
  // A fresh install is checked again before anything is launched from it.
  if (action == "install" && payload.ok) launchButton->setEnabled(false);
}

}  // namespace app
