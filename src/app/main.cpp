// Process entry: fixes what the launcher knows of the outside world, then runs the application.
#include "app/launcher_app_delegate.h"
#include "app/version_text.h"
#include "platform/bundle.h"
#include "platform/standard_paths.h"

int main() {
  const platform::Bundle bundle = platform::mainBundle();
  platform::InfoValue release;
  if (bundle.infoDictionaryFile) {
    release = platform::readInfoDictionaryValue(*bundle.infoDictionaryFile, app::kReleaseVersionKey);
  }
  static platform::PosixFileSystem fileSystem;
  static const app::LauncherEnvironment environment{
      runtime::RuntimeContext{fileSystem, bundle.resourceDirectory, platform::applicationSupportDirectory()},
      app::launcherVersionTextFor(release)};

  platform::ui::Application& application = platform::ui::Application::shared();
  static app::LauncherAppDelegate delegate(environment);
  application.setDelegate(&delegate);
  application.setActivationPolicyRegular();
  application.run();
  platform::ui::endProcess(0);
}
