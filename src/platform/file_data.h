// Moving a regular file's bytes between two open descriptors, and cloning whole trees where the operating
// system offers it. One implementation file per operating system; CMake picks it.
#pragma once

#include <sys/types.h>

#include "platform/error.h"
#include "platform/fs.h"

namespace platform::detail {

// What one tree copy has learnt about the file systems it copies between, so that it does not ask again for
// every file.
struct CopyHints {
  bool cloneUnsupported = false;
  bool kernelCopyUnsupported = false;
};

// Copies the `size` bytes of `in` (from its start) to `out`, which is empty, and whatever more `in` holds by
// then. Shares blocks where the file system can, else copies in the kernel, else by reading and writing.
// `from` and `to` only name the files in errors.
Status copyFileData(int in, int out, off_t size, CopyHints& hints, const Path& from, const Path& to);

// Tries to clone the whole entry `from` (a file, link or directory tree, with modes and times) to `to` in one
// call. Returns nothing when cloning is not available here or not supported by the file system, so that the
// caller copies entry by entry; a status when the clone was attempted and settled the outcome.
std::optional<Status> tryCloneTree(const Path& from, const Path& to);

}  // namespace platform::detail
