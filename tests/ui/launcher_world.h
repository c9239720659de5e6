// A launcher delegate over temporary folders: a bundle payload whose "interpreter" is /bin/sh, so that each
// test's backend script is a small shell script, an Application Support folder and a fake uname.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <memory>

#include "app/launcher_app_delegate.h"
#include "runtime/payload.h"

namespace testing_support {

// A window thread held by work that belongs elsewhere (a copy, a flood of output laid out) stalls for seconds;
// a busy machine can stall an idle one for a few hundred milliseconds. Tests fail only past this; the press
// bench reports the real gaps.
inline constexpr qint64 kHeldMs = 700;

// How the window's thread feels to a user: a 10 ms timer on it, and the longest it had to wait between two
// ticks since it started (or was started again).
class StallWatch {
 public:
  StallWatch() {
    QObject::connect(&ticker_, &QTimer::timeout, [this] {
      longest_ = std::max(longest_, clock_.elapsed() - last_);
      last_ = clock_.elapsed();
    });
    restart();
  }
  void restart() {
    last_ = longest_ = 0;
    clock_.start();
    ticker_.start(10);
  }
  qint64 longestMs() const { return longest_; }

 private:
  QElapsedTimer clock_;
  QTimer ticker_;
  qint64 last_ = 0, longest_ = 0;
};

using app::LauncherAppDelegate;
using app::LauncherEnvironment;

class LauncherWorld {
 public:
  LauncherWorld();
  ~LauncherWorld();

  // Replaces the backend script in the bundle payload (it is copied on the next press).
  void setBackendScript(const std::string& shellBody);
  // A backend that runs `shell` first, then prints the result set last.
  void setBackendPrelude(const std::string& shell);
  // A backend that prints this JSON result.
  void setBackendResult(bool ok, const std::string& code, const std::string& status, const std::string& detail,
                        bool showInstall, bool enableLaunch, const std::string& targetUrl = "");
  // Builds the window, as at launch.
  void launch();

  QWidget* window() const;
  QPushButton* button(const char* name) const;
  QLabel* label(const char* name) const;
  QWidget* widget(const char* name) const;
  // What the window shows, in one line: "status | colour | detail, or - when hidden | the buttons a user can
  // press (install only when shown)", with " | busy" while the spinner turns.
  QString state() const;
  bool spinnerTurning() const;
  // Clicks a button as a user would and waits until the window is idle again.
  bool clickAndWait(const char* name, int timeoutMs = 20000);
  bool waitUntilIdle(int timeoutMs = 20000);

  RuntimeWorld files;
  LauncherEnvironment environment;
  std::unique_ptr<LauncherAppDelegate> delegate;

 private:
  QPointer<QWidget> own_;  // this world's window, once launched: several worlds may be open at once
};

}  // namespace testing_support
