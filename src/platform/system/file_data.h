// Moving a regular file's bytes between two open descriptors, and cloning whole trees where the operating
// system offers it. One implementation file per operating system; CMake picks it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/system/error.h"
#include "platform/system/fs.h"

namespace platform::detail {

// The system's in-kernel copy between two descriptors, in the form of Linux's copy_file_range: null offsets
// use and advance the descriptors' own. Returns the bytes copied, 0 at the end, or -1 with errno.
using KernelCopy = ssize_t (*)(int in, off_t* inOffset, int out, off_t* outOffset, size_t length);

// What one tree copy has learnt about the file systems it copies between, so that it does not ask again for
// every file.
struct CopyHints {
  bool cloneUnsupported = false;
  bool kernelCopyUnsupported = false;
  // Test seam: stands in for the system's in-kernel copy when set.
  KernelCopy kernelCopyForTests = nullptr;
  // Told each regular file's size once it is copied; may be empty.
  const CopyProgress* progress = nullptr;
};

// Copies the bytes of `in` (a regular file described by `source`, read from its start) to `out`, which is
// empty, and whatever more `in` holds by then. Shares blocks where the file system can, else copies in the
// kernel, else by reading and writing; a sparse file's holes stay holes. `from` and `to` only name the files in
// errors.
Status copyFileData(int in, int out, const struct stat& source, CopyHints& hints, const Path& from, const Path& to);

// Tries to clone the whole entry `from` (a file, link or directory tree, with modes and times) to `to` in one
// call. Returns nothing when cloning is not available here or not supported by the file system, so that the
// caller copies entry by entry; a status when the clone was attempted and settled the outcome.
std::optional<Status> tryCloneTree(const Path& from, const Path& to);

// One name in a directory, with the kind that the directory reports (a DT_ value, DT_UNKNOWN where it does
// not know).
struct DirectoryName {
  std::string name;
  unsigned char type;
};

// Appends the names in the directory `dirFd` ("." and ".." left out), freshly opened and not read yet, with as
// few system calls as the system allows. The descriptor stays open and owned by the caller; nothing else is
// opened. Returns 0, or -1 with errno.
int readDirectory(int dirFd, std::vector<DirectoryName>& names);

// Swaps the entries at `a` and `b` in one step (renameat2 with RENAME_EXCHANGE, renamex_np with RENAME_SWAP).
// Returns 0, or -1 with errno (ENOTSUP where the system or file system has no such call).
int exchangeEntries(const Path& a, const Path& b);

}  // namespace platform::detail
