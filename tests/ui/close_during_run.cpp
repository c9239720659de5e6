// A launcher process for one test: presses 检测环境 against a slow backend, then closes the window once the
// backend has begun (its first mark), however long the pre-flight took. The process must end at once, without
// waiting for the backend or killing it. It claims its place as the one launcher as the launcher does, in the
// user's socket folder, and says on standard error why if it could not; and one warning of Qt's own, which must
// pass while Qt's word on a missing runtime folder does not.
// Usage: close_during_run <folder for the backend's marks>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <filesystem>

#include "platform/qt/standard_paths.h"
#include "platform/qt/window.h"
#include "ui/launcher_world.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const platform::Path marks = argv[1];
  platform::ui::Application& application = platform::ui::Application::shared();
  qWarning("any other message of Qt's still passes");
  auto* world = new testing_support::LauncherWorld;  // outlives the event loop: the process ends first
  const platform::Path begun = marks / "backend.begun";
  world->setBackendScript("echo begun > '" + begun.string() + "'\nsleep 3\necho finished > '" +
                          (marks / "backend.done").string() + "'\necho '{}'");
  application.setDelegate(world->delegate.get());
  auto only = world->delegate->claimOnlyLauncher(marks / "launcher.lock", platform::userRuntimeDirectory());
  if (!only || !only->aloneBecause().empty()) std::fprintf(stderr, "%s\n", only ? only->aloneBecause().c_str() : "");
  // Clicks once the window is up, and closes it once the backend has begun.
  auto* watch = new QTimer;
  QObject::connect(watch, &QTimer::timeout, [world, begun, clicked = false]() mutable {
    if (!clicked && world->window() && world->button("checkButton")->isEnabled()) {
      world->button("checkButton")->click();
      clicked = true;
    }
    if (clicked && std::filesystem::exists(begun)) world->window()->close();
  });
  watch->start(10);
  application.run();
  only.reset();  // its socket goes with it: the real socket folder keeps nothing of a test's
  platform::ui::endProcess(0);
}
