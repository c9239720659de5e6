// macOS: stands in for the kernel copy of file data (copy_file_range) and, where APFS allows it, clones a
// whole tree in one call (clonefile), links, modes and times included.
#include <copyfile.h>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/clonefile.h>
#include <unistd.h>

#include <cerrno>

#include "platform/system/file_data.h"

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

int readDirectory(int dirFd, std::vector<DirectoryName>& names) {
  int copy = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);  // close-on-exec, like every descriptor of ours
  if (copy < 0) return -1;
  DIR* dir = ::fdopendir(copy);
  if (!dir) {
    int saved = errno;
    ::close(copy);
    errno = saved;
    return -1;
  }
  ::rewinddir(dir);
  errno = 0;
  while (dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    names.push_back({name, entry->d_type});
  }
  int saved = errno;
  ::closedir(dir);
  errno = saved;
  return saved == 0 ? 0 : -1;
}

int exchangeEntries(const Path& a, const Path& b) {
  if (::renamex_np(a.c_str(), b.c_str(), RENAME_SWAP) == 0) return 0;
  if (errno == EINVAL) errno = ENOTSUP;  // a file system without it
  return -1;
}

}  // namespace platform::detail
