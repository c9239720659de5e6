#include "platform/system/bundle.h"

#include "platform/system/executable_path.h"

namespace platform {

Bundle bundleForExecutable(const Path& executable) {
  Bundle bundle;
  bundle.executable = executable;
  bundle.executableDirectory = executable.parent_path();
  if (bundle.executableDirectory.empty()) return bundle;
  Path macos = bundle.executableDirectory;
  Path contents = macos.parent_path();
  Path app = contents.parent_path();
  if (macos.filename() == "MacOS" && contents.filename() == "Contents" && app.extension() == ".app") {
    bundle.resourceDirectory = contents / "Resources";
    bundle.infoDictionaryFile = contents / "Info.plist";
  } else {
    bundle.resourceDirectory = bundle.executableDirectory;
  }
  return bundle;
}

Bundle mainBundle() {
  if (std::optional<Path> executable = detail::runningExecutablePath()) return bundleForExecutable(*executable);
  return Bundle{};
}

}  // namespace platform
