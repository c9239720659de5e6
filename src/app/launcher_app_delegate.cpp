#include "app/launcher_app_delegate.h"

#include "app/launcher_texts.h"
#include "flow/press_log.h"
#include "platform/qt/dispatch.h"

namespace app {

std::string launcherModelSummary() { return std::string("生图：") + kImageModels + "\n生视频：" + kVideoModels; }

LauncherAppDelegate::LauncherAppDelegate(const LauncherEnvironment& environment)
    : environment_(environment),
      checkButton(std::make_unique<platform::ui::Button>("检测环境")),
      launchButton(std::make_unique<platform::ui::Button>("启动")),
      installButton(std::make_unique<platform::ui::Button>("一键安装环境")),
      statusLabel(platform::ui::Label::plain("点击“检测环境”开始")),
      detailLabel(platform::ui::Label::wrapping("")),
      activity(std::make_unique<platform::ui::ProgressIndicator>()),
      progressLabel(platform::ui::Label::plain("")) {}

void LauncherAppDelegate::applicationDidFinishLaunching() {
  buildWindow();
  applyIdleState();
  platform::ui::Application::activateIgnoringOtherApps();
}

bool LauncherAppDelegate::applicationShouldTerminateAfterLastWindowClosed() { return true; }

void LauncherAppDelegate::bringToFront() {
  if (!window) return;
  window->makeKeyAndOrderFront();
  platform::ui::Application::activateIgnoringOtherApps();
}

std::unique_ptr<platform::SingleInstance> LauncherAppDelegate::claimOnlyLauncher(
    const platform::Path& lockFile, const std::optional<platform::Path>& socketFolder) {
  std::unique_ptr<platform::SingleInstance> only = platform::SingleInstance::claim(
      environment_.runtime.fileSystem, lockFile, socketFolder, [this](std::function<void()> answer) {
        platform::dispatchToMain([this, answer = std::move(answer)] {
          bringToFront();
          answer();
        });
      });
  if (only && !only->aloneBecause().empty() && environment_.logFile) {
    flow::appendNote(environment_.runtime.fileSystem, *environment_.logFile, "start",
                     "one launcher at a time is off: " + only->aloneBecause());
  }
  return only;
}

}  // namespace app
