// macOS: stands in for the kernel copy of file data (copy_file_range) and, where APFS allows it, clones a
// whole tree in one call (clonefile), links, modes and times included.
#include <copyfile.h>
#include <stdio.h>
#include <sys/clonefile.h>

#include <cerrno>

#include "platform/file_data.h"

namespace platform::detail {

Status copyFileData(int in, int out, const struct stat&, CopyHints&, const Path& from, const Path& to) {
  // Where the tree could not be cloned whole: the data, holes kept as holes.
  if (::fcopyfile(in, out, nullptr, COPYFILE_DATA | COPYFILE_DATA_SPARSE) == 0) return Status::success();
  return posixError(errno, "无法复制“" + from.string() + "”到“" + to.string() + "”");
}

std::optional<Status> tryCloneTree(const Path& from, const Path& to) {
  // On APFS one call clones a whole tree, links, modes and times included.
  if (::clonefile(from.c_str(), to.c_str(), CLONE_NOFOLLOW) == 0) return Status::success();
  if (errno == ENOTSUP || errno == EXDEV) return std::nullopt;
  return posixError(errno, "无法复制“" + from.string() + "”到“" + to.string() + "”");
}

int exchangeEntries(const Path& a, const Path& b) {
  if (::renamex_np(a.c_str(), b.c_str(), RENAME_SWAP) == 0) return 0;
  if (errno == EINVAL) errno = ENOTSUP;  // a file system without it
  return -1;
}

}  // namespace platform::detail
