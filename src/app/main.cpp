// Process entry: fixes what the launcher knows of the outside world, then runs the application.
#include "app/launcher_app_delegate.h"
#include "app/version_text.h"
#include "platform/qt/plist.h"
#include "platform/qt/standard_paths.h"
#include "platform/system/bundle.h"

int main() {
  const platform::Bundle bundle = platform::mainBundle();
  platform::InfoValue release;
  platform::InfoValue identifier;
  if (bundle.infoDictionaryFile) {
    release = platform::readInfoDictionaryValue(*bundle.infoDictionaryFile, app::kReleaseVersionKey);
    identifier = platform::readInfoDictionaryValue(*bundle.infoDictionaryFile, "CFBundleIdentifier");
  }
  static platform::PosixFileSystem fileSystem;
  const std::optional<platform::Path> support = platform::applicationSupportDirectory();
  // The log lives where the system keeps applications' logs, in a folder named after the bundle.
  std::optional<platform::Path> logFile;
  if (std::optional<platform::Path> logs = platform::userLogDirectory(); logs && !bundle.executable.empty()) {
    logFile = *logs / bundle.executable.filename() / "launcher.log";
  }
  static const app::LauncherEnvironment environment{
      runtime::RuntimeContext{fileSystem, bundle.resourceDirectory, support, "/usr/bin/uname",
                              bundle.executable.string()},
      app::launcherVersionTextFor(release), logFile};

  platform::ui::Application& application = platform::ui::Application::shared();
  if (bundle.resourceDirectory) platform::ui::adoptBundleResources(*bundle.resourceDirectory, identifier.text);
  static app::LauncherAppDelegate delegate(environment);
  // One launcher per user: a second start brings this one's window to the front and ends, touching nothing.
  std::unique_ptr<platform::SingleInstance> only;
  if (support) {
    only = delegate.claimOnlyLauncher(*support / runtime::kManagedFolderName / "launcher.lock",
                                      platform::userRuntimeDirectory());
    if (!only) platform::ui::endProcess(0);
  }
  application.setDelegate(&delegate);
  application.setActivationPolicyRegular();
  application.run();
  platform::ui::endProcess(0);
}
