// Folders of the user's that the system names.
#pragma once

#include <optional>

#include "platform/system/fs.h"

namespace platform {

// The user's Application Support folder: ~/Library/Application Support on macOS, the XDG data home
// (~/.local/share) on Linux. None when the system cannot say. Does not create it. Any thread may call it.
std::optional<Path> applicationSupportDirectory();

// Where the user's applications keep their logs: ~/Library/Logs on macOS, the XDG state home on Linux
// ($XDG_STATE_HOME when it is an absolute path, else ~/.local/state). None when the system cannot say. Does not
// create it. Any thread may call it.
std::optional<Path> userLogDirectory();

// A folder for the user's sockets that only the user can write: on macOS the per-user temporary folder that
// the system gives each user, on Linux $XDG_RUNTIME_DIR where it is a private folder of the user's, else one of
// the user's own in the temporary folder (`privateSocketFolder`). None when the system cannot say. Prints
// nothing. Any thread may call it.
std::optional<Path> userRuntimeDirectory();

}  // namespace platform
