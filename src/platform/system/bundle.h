// The application bundle: where the launcher finds its resources and its information dictionary.
//
// Every platform uses the same layout, `<Name>.app/Contents/{MacOS/<exe>, Info.plist, Resources/}`. An
// executable outside such a layout has a bundle too: its own folder, whose resources folder is that same
// folder, with no information dictionary.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/system/fs.h"

namespace platform {

struct Bundle {
  Path executable;  // empty when its location is unknown
  Path executableDirectory;
  std::optional<Path> resourceDirectory;   // none when the executable's location is unknown
  std::optional<Path> infoDictionaryFile;  // Contents/Info.plist inside a bundle layout, else none
};

// The bundle that holds `executable`, by the layout above. Pure: looks at the path only, touches no file.
Bundle bundleForExecutable(const Path& executable);

// The bundle of the running program. Reads the executable's location from the operating system; when that
// fails, the bundle has an empty executable folder and no resources folder.
Bundle mainBundle();

// One value of an information dictionary.
struct InfoValue {
  enum class Kind { absent, text, other };
  Kind kind = Kind::absent;
  std::string text;  // the value when `kind` is `text`
};

// (The property-list reader that gives these is the window system's: platform/qt/plist.h.)

}  // namespace platform
