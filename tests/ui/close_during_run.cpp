// A launcher process for one test: presses 检测环境 against a slow backend, then closes the window while the
// run is under way. The process must end at once, without waiting for the backend or killing it.
// Usage: close_during_run <folder for the backend's marks>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "platform/window.h"
#include "ui/launcher_world.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const platform::Path marks = argv[1];
  platform::ui::Application& application = platform::ui::Application::shared();
  auto* world = new testing_support::LauncherWorld;  // outlives the event loop: the process ends first
  world->setBackendScript("sleep 3\necho finished > '" + (marks / "backend.done").string() + "'\necho '{}'");
  application.setDelegate(world->delegate.get());
  QTimer::singleShot(200, [world] { world->button("checkButton")->click(); });
  QTimer::singleShot(900, [world] { world->window()->close(); });
  application.run();
  platform::ui::endProcess(0);
}
