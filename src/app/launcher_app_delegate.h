// The application delegate: the launcher's one object with state. It owns the window, the seven controls that
// the action flow drives, and the two flags that carry the buttons' wanted state across a busy period. Its
// operations live by subsystem: the window in ui/window_builder.cpp, the status display in
// ui/status_display.cpp, the action flow in flow/action_flow.cpp.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "backend/backend_invoke.h"
#include "flow/after_press.h"
#include "flow/preflight.h"
#include "platform/qt/window.h"
#include "platform/system/single_instance.h"
#include "runtime/runtime_layout.h"

namespace app {

// What the launcher knows of the outside world, fixed once at start by the process entry (tests fill it with
// temporary folders). The delegate only reads it.
struct LauncherEnvironment {
  runtime::RuntimeContext runtime;
  std::string launcherVersionText;                       // shown on the version line
  std::optional<platform::Path> logFile = std::nullopt;  // the launcher's log, one record per press; none: no log
  // The one thing in it that changes: what a press leaves to do after its result (its flush and cleanup).
  std::shared_ptr<flow::AfterPress> afterPress = std::make_shared<flow::AfterPress>();
};

// "生图：…\n生视频：…", the models the suite can call.
std::string launcherModelSummary();

class LauncherAppDelegate final : public platform::ui::ApplicationDelegate {
 public:
  // Creates the six controls with their initial titles and texts; the window is built later, at launch.
  explicit LauncherAppDelegate(const LauncherEnvironment& environment);

  // Builds and shows the window, enters the idle state, and brings the application to the front.
  void applicationDidFinishLaunching() override;
  // Another start of the launcher asked for this one: its window comes to the front.
  void bringToFront();
  // One launcher per user: claims `lockFile`, so that a later start brings this window to the front (on the
  // window's thread, answering that start only once it has) and ends. Nothing returned: another launcher came
  // to the front, and this process should end. When later starts will not find this one, the log says why.
  std::unique_ptr<platform::SingleInstance> claimOnlyLauncher(const platform::Path& lockFile,
                                                              const std::optional<platform::Path>& socketFolder);
  // Closing the window ends the application; a backend run under way is not waited for.
  bool applicationShouldTerminateAfterLastWindowClosed() override;

  // The buttons' actions.
  void handleCheck();
  void handleInstall();
  void handleLaunch();

 private:
  // The window (ui/window_builder.cpp).
  void buildWindow();
  void configure(platform::ui::Button& button, void (LauncherAppDelegate::*action)());
  std::unique_ptr<platform::ui::Label> linkLabel(const std::string& text, const std::string& url);

  // The status display and busy state (ui/status_display.cpp).
  void applyIdleState();
  void applyStatus(const std::string& text, const std::string& detail, platform::ui::SemanticColor color,
                   bool showInstall, bool enableLaunch, bool showDetail);
  void setBusy(bool busy);
  void showProgress(const std::string& line);

  // The action flow (flow/action_flow.cpp).
  void runBackend(const std::string& action, const std::string& preflightStatus);
  void stopBeforeRun(const std::string& status, const std::string& detail);
  void complete(const backend::RunOutcome& outcome, const std::string& action);
  void apply(const backend::BackendResult& payload, const std::string& action);

  const LauncherEnvironment& environment_;
  std::unique_ptr<platform::ui::Window> window;
  std::unique_ptr<platform::ui::Button> checkButton;
  std::unique_ptr<platform::ui::Button> launchButton;
  std::unique_ptr<platform::ui::Button> installButton;
  std::unique_ptr<platform::ui::Label> statusLabel;
  std::unique_ptr<platform::ui::Label> detailLabel;
  std::unique_ptr<platform::ui::ProgressIndicator> activity;
  // Beside the spinner while a run is under way: the latest line the script wrote to standard error.
  std::unique_ptr<platform::ui::Label> progressLabel;
  bool desiredLaunchEnabled = false;
  bool desiredInstallVisible = false;
};

}  // namespace app
