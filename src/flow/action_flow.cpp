// One button press: the window turns busy on the main thread, the pre-flight checks and the backend run go on
// in one background work item, and the outcome is applied to the window back on the main thread.
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <system_error>

#include "app/launcher_app_delegate.h"
#include "flow/preflight.h"
#include "flow/press_log.h"
#include "platform/qt/dispatch.h"
#include "runtime/runtime_sync.h"

namespace app {

using platform::ui::SemanticColor;

void LauncherAppDelegate::handleCheck() { runBackend("check", "正在检测环境…"); }
void LauncherAppDelegate::handleInstall() { runBackend("install", "正在安装环境，请稍候…"); }
void LauncherAppDelegate::handleLaunch() { runBackend("launch", "正在启动前端…"); }

void LauncherAppDelegate::runBackend(const std::string& action, const std::string& preflightStatus) {
  // The window turns busy at once: the checks, the sync with its copying and the run all go on off the window's
  // thread, so the window keeps answering however much there is to copy.
  setBusy(true);
  statusLabel->setText(preflightStatus);
  statusLabel->setTextColor(SemanticColor::label);
  detailLabel->setText("");
  detailLabel->setHidden(true);

  // The work item gets values only; it touches no control and no flag. Progress reaches the window through the
  // main queue, ahead of the completion that clears it. What the last press left to do (its flush and cleanup,
  // under the runtime's lock) ends first; what this one leaves goes on after its result is shown.
  platform::dispatchGlobalUserInitiated([this, context = environment_.runtime, logFile = environment_.logFile,
                                         afterPress = environment_.afterPress, action] {
    afterPress->wait([this] { platform::dispatchToMain([this] { showProgress("正在将运行环境写入磁盘…"); }); });
    platform::dispatchToMain([this] { showProgress(""); });
    flow::PressRecord record;
    record.time = flow::logTimeNow();
    record.action = action;
    const auto started = std::chrono::steady_clock::now();
    flow::Preflight preflight = flow::runPreflight(context, [this](int percent) {
      platform::dispatchToMain([this, percent] { showProgress("正在准备运行环境 " + std::to_string(percent) + "%"); });
    });
    record.preflightSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (auto* failure = std::get_if<flow::PreflightFailure>(&preflight)) {
      if (failure->runtimeRoot) runtime::removeLeftovers(context.fileSystem, *failure->runtimeRoot);
      failure->lock.reset();
      record.preflightFailure = failure->status + "\n" + failure->detail;
      if (logFile) flow::appendPressRecord(context.fileSystem, *logFile, record);
      platform::dispatchToMain(
          [this, status = failure->status, detail = failure->detail] { stopBeforeRun(status, detail); });
      return;
    }
    auto& ready = std::get<flow::PreflightReady>(preflight);
    record.sync = ready.sync;
    // What the sync copied reaches the disk while the script runs, once it has started, so that the disk's work
    // does not hold up its start; the result never waits for it.
    auto flushed = std::make_shared<std::future<platform::Status>>();
    auto startFlush = [&] {
      if (!ready.sync.flushPending) return;
      try {
        *flushed =
            std::async(std::launch::async, runtime::flushRuntime, std::ref(context.fileSystem), ready.runtimeRoot);
      } catch (const std::system_error&) {
        // No thread to be had: the press flushes after its result, below.
      }
    };
    backend::RunFacts facts;
    backend::RunOutcome outcome = backend::invokeBackend(
        ready.python.string(), ready.script.string(), action,
        [this](const std::string& line) { platform::dispatchToMain([this, line] { showProgress(line); }); }, &facts,
        startFlush);
    record.exit = facts.exit;
    record.runSeconds = facts.seconds;
    record.outcome = flow::describeOutcome(outcome);
    if (logFile) flow::appendPressRecord(context.fileSystem, *logFile, record);
    // The flush and the cleanup go on after the result, holding the lock; the next press waits for them.
    auto lock = std::shared_ptr<platform::HeldLock>(std::move(ready.lock));
    afterPress->start([&fileSystem = context.fileSystem, root = ready.runtimeRoot, logFile, flushed, lock,
                       pending = ready.sync.flushPending] {
      platform::Status status = flushed->valid() ? flushed->get()
                                : pending        ? runtime::flushRuntime(fileSystem, root)
                                                 : platform::Status::success();
      if (!status && logFile) flow::appendNote(fileSystem, *logFile, "flush", status.error().localizedDescription());
      runtime::removeLeftovers(fileSystem, root);
    });
    platform::dispatchToMain([this, outcome = std::move(outcome), action] { complete(outcome, action); });
  });
}

void LauncherAppDelegate::stopBeforeRun(const std::string& status, const std::string& detail) {
  setBusy(false);
  applyStatus(status, detail, SemanticColor::systemRed, false, false, true);
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
