// The status area and the buttons: the idle state, a status, and the busy state around a backend run.
#include "app/launcher_app_delegate.h"
#include "platform/system/text.h"

namespace app {

void LauncherAppDelegate::applyIdleState() {
  statusLabel->setText("点击“检测环境”开始");
  statusLabel->setTextColor(platform::ui::SemanticColor::label);
  detailLabel->setText("");
  detailLabel->setHidden(true);
  desiredInstallVisible = false;
  desiredLaunchEnabled = false;
  installButton->setHidden(true);
  launchButton->setEnabled(false);
  checkButton->setEnabled(true);
}

void LauncherAppDelegate::applyStatus(const std::string& text, const std::string& detail,
                                      platform::ui::SemanticColor color, bool showInstall, bool enableLaunch,
                                      bool showDetail) {
  statusLabel->setText(text);
  statusLabel->setTextColor(color);
  const std::string trimmed = platform::trimWhitespaceAndNewlines(detail);
  detailLabel->setText(trimmed);
  detailLabel->setHidden(!showDetail || trimmed.empty());
  desiredInstallVisible = showInstall;
  desiredLaunchEnabled = enableLaunch;
  installButton->setHidden(!showInstall);
  launchButton->setEnabled(enableLaunch);
}

void LauncherAppDelegate::setBusy(bool busy) {
  checkButton->setEnabled(!busy);
  installButton->setEnabled(!busy);
  installButton->setHidden(busy || !desiredInstallVisible);
  launchButton->setEnabled(!busy && desiredLaunchEnabled);
  if (busy) {
    activity->startAnimation();
  } else {
    activity->stopAnimation();
  }
  progressLabel->setText("");  // a run's progress line lives exactly as long as the run
}

void LauncherAppDelegate::showProgress(const std::string& line) { progressLabel->setText(line); }

}  // namespace app
