#include "app/launcher_app_delegate.h"

#include "app/launcher_texts.h"

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

}  // namespace app
