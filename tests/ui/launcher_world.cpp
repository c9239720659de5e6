#include "ui/launcher_world.h"

#include <QApplication>
#include <QProgressBar>
#include <QTest>

#include <nlohmann/json.hpp>

namespace testing_support {

LauncherWorld::LauncherWorld() : environment{files.context, "dev"} {
  for (const char* target : {"macos-arm64", "macos-x86_64"}) {
    platform::Path bin = files.resources / "runtime" / target / "python" / "bin";
    std::filesystem::remove(bin / "python3");
    writeFile(bin / "python3.11", "#!/bin/sh\nexec /bin/sh \"$@\"\n", 0644);
  }
  setBackendResult(true, "ready", "环境正常", "", false, true);
  delegate = std::make_unique<LauncherAppDelegate>(environment);
}

LauncherWorld::~LauncherWorld() {
  waitUntilIdle(30000);
  delegate.reset();
}

void LauncherWorld::setBackendScript(const std::string& shellBody) {
  writeFile(files.resources / "runtime/common/scripts/launcher_backend.py", shellBody + "\n", 0644);
  writeManifest(files.resources);  // as a new build's
}

void LauncherWorld::setBackendPrelude(const std::string& shell) {
  setBackendScript(shell + "\ncat '" + (files.dir / "result.json").string() + "'");
}

void LauncherWorld::setBackendResult(bool ok, const std::string& code, const std::string& status,
                                     const std::string& detail, bool showInstall, bool enableLaunch,
                                     const std::string& targetUrl) {
  nlohmann::json result = {{"ok", ok},
                           {"code", code},
                           {"status_text", status},
                           {"detail_text", detail},
                           {"show_install", showInstall},
                           {"enable_launch", enableLaunch},
                           {"target_url", targetUrl}};
  writeFile(files.dir / "result.json", result.dump());
  setBackendPrelude(":");
}

void LauncherWorld::launch() {
  const QWidgetList before = QApplication::topLevelWidgets();
  delegate->applicationDidFinishLaunching();
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (!before.contains(top) && top->findChild<QWidget*>("statusLabel")) own_ = top;
  }
}

QWidget* LauncherWorld::window() const {
  QWidget* status = widget("statusLabel");
  return status ? status->window() : nullptr;
}

QWidget* LauncherWorld::widget(const char* name) const {
  if (own_) return own_->findChild<QWidget*>(name);
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (QWidget* found = top->findChild<QWidget*>(name)) return found;
  }
  return nullptr;
}

QPushButton* LauncherWorld::button(const char* name) const { return qobject_cast<QPushButton*>(widget(name)); }
QLabel* LauncherWorld::label(const char* name) const { return qobject_cast<QLabel*>(widget(name)); }

QString LauncherWorld::state() const {
  QStringList buttons;
  if (button("checkButton")->isEnabled()) buttons << "check";
  if (button("launchButton")->isEnabled()) buttons << "launch";
  if (!button("installButton")->isHidden() && button("installButton")->isEnabled()) buttons << "install";
  QLabel* detail = label("detailLabel");
  return label("statusLabel")->text() + " | " + label("statusLabel")->property("semanticColor").toString() + " | " +
         (detail->isHidden() ? "-" : detail->text()) + " | " + buttons.join(' ') + (spinnerTurning() ? " | busy" : "");
}

bool LauncherWorld::spinnerTurning() const {
  auto* spinner = qobject_cast<QProgressBar*>(widget("activity"));
  return spinner && spinner->maximum() == 0;
}

bool LauncherWorld::waitUntilIdle(int timeoutMs) {
  QPushButton* check = button("checkButton");
  if (!check) return true;
  return QTest::qWaitFor([&] { return check->isEnabled() && !spinnerTurning(); }, timeoutMs);
}

bool LauncherWorld::clickAndWait(const char* name, int timeoutMs) {
  QTest::mouseClick(button(name), Qt::LeftButton);
  return waitUntilIdle(timeoutMs);
}

}  // namespace testing_support
