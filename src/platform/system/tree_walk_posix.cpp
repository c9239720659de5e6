// The walks: the scan of a tree by metadata, and the walk that the repair of executable bits takes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/system/file_data.h"
#include "platform/system/fs.h"
#include "platform/system/fs_posix_shared.h"

namespace platform {
namespace {

using namespace detail;

// What one look at a listed name found.
enum class Look { found, gone, unreadable, unopenable };

// The failure that a look which found nothing usable at `path` stands for, errno telling why.
Error lookFailure(Look look, const Path& path) {
  return look == Look::unopenable ? posixError(errno, "无法读取目录" + q(path))
                                  : posixError(errno, "无法读取" + q(path) + "的属性");
}

// Looks at `name` in the open folder `dirFd`: its metadata into `st` and, for a folder, an open descriptor into
// `sub`. A name the listing knows for a folder is opened first and asked through its descriptor: one lookup of
// the name, not two. In a busy tree a name that is gone is `gone`, and one that changed kind between the look
// and the opening is looked at again; errno tells why the look failed otherwise.
Look lookAt(int dirFd, const char* name, bool listedAsFolder, TreeState state, struct stat& st, Fd& sub) {
  const bool busy = state == TreeState::busy;
  for (int attempt = 0; attempt < 8; ++attempt) {
    sub.reset(listedAsFolder ? openDirectoryAt(dirFd, name, false) : -1);
    if (sub.valid() ? ::fstat(sub.get(), &st) != 0 : ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return busy && errno == ENOENT ? Look::gone : Look::unreadable;
    }
    if (!S_ISDIR(st.st_mode) || sub.valid()) return Look::found;
    sub.reset(openDirectoryAt(dirFd, name, false));
    if (sub.valid()) return Look::found;
    if (!busy || (errno != ENOENT && errno != ENOTDIR && errno != ELOOP)) return Look::unopenable;
    listedAsFolder = false;  // no longer the folder it was a moment ago: looked at again by name
  }
  errno = EAGAIN;  // a name that changes kind on every look
  return Look::unreadable;
}

// Adds every entry below the open directory `dirFd` (which is `root`/`relative`) to `found`, depth first,
// parents before their contents; one descriptor is open per level. `relative` is extended in place for each
// entry below and given back as it came. In a busy tree a folder that is the root of a mount is reported as one
// and not gone into (`device`: the device of `dirFd`).
Status scanDirectory(int dirFd, dev_t device, const Path& root, std::string& relative, TreeState state,
                     std::vector<ScannedEntry>& found) {
  std::vector<DirectoryName> names;
  if (detail::readDirectory(dirFd, names) != 0) {
    // A folder removed since it was opened reads as gone; in a busy tree its contents went with it.
    if (state == TreeState::busy && errno == ENOENT) return Status::success();
    return posixError(errno, "无法读取目录" + q(root / relative));
  }
  std::sort(names.begin(), names.end(), [](const DirectoryName& a, const DirectoryName& b) { return a.name < b.name; });
  const size_t base = relative.size();
  for (const DirectoryName& entry : names) {
    relative.resize(base);
    if (base != 0) relative += '/';
    relative += entry.name;
    struct stat st;
    Fd sub;
    const Look look = lookAt(dirFd, entry.name.c_str(), entry.type == DT_DIR, state, st, sub);
    if (look == Look::gone) continue;
    if (look != Look::found) return lookFailure(look, root / relative);
    const bool mounted = sub.valid() && state == TreeState::busy && isMountRoot(dirFd, entry.name.c_str(), st, device);
    found.push_back({relative, kindOf(st.st_mode), identityOf(st), mounted});
    if (!sub.valid() || mounted) continue;
    if (Status scanned = scanDirectory(sub.get(), st.st_dev, root, relative, state, found); !scanned) return scanned;
  }
  relative.resize(base);
  return Status::success();
}

Status walkDirectory(int dirFd, const Path& path, const std::function<Status(const WalkEntry&)>& visit) {
  std::vector<DirectoryName> names;
  if (Status listed = listDirectory(dirFd, path, names); !listed) return Status::success();  // unreadable: skip
  for (const DirectoryName& entry : names) {
    Path child = path / entry.name;
    EntryKind kind;
    switch (entry.type) {
      case DT_REG:
        kind = EntryKind::regular;
        break;
      case DT_DIR:
        kind = EntryKind::directory;
        break;
      case DT_LNK:
        kind = EntryKind::symlink;
        break;
      case DT_UNKNOWN: {
        struct stat st;
        if (::fstatat(dirFd, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
          if (errno == ENOENT) continue;  // gone since the listing: nothing to visit
          return posixError(errno, "无法读取" + q(child) + "的属性");
        }
        kind = kindOf(st.st_mode);
        break;
      }
      default:
        kind = EntryKind::other;
        break;
    }
    if (Status visited = visit({child, kind, dirFd, entry.name}); !visited) return visited;
    if (kind == EntryKind::directory) {
      Fd sub(openDirectoryAt(dirFd, entry.name.c_str(), false));
      if (!sub.valid()) continue;  // unreadable subdirectory: go on past it
      if (Status walked = walkDirectory(sub.get(), child, visit); !walked) return walked;
    }
  }
  return Status::success();
}

// Sets the mode of the regular file `name` in the open folder `dirFd` (AT_FDCWD: `name` is a path). The mode is
// changed on a descriptor of the entry itself, opened without following a link and without blocking, so
// nothing swapped in since the walk can redirect the change or hold the caller.
Status changeMode(int dirFd, const char* name, const Path& path, unsigned mode) {
  const std::string what = "无法设置" + q(path) + "的权限";
  Fd file(::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  if (!file.valid()) {
    if (errno == ELOOP || errno == ENOENT) return Status::success();  // a link now, or gone: nothing to change
    if (errno != EACCES) return posixError(errno, what);
    // A file its owner may not read: change it by name, still without following a last link.
    if (::fchmodat(dirFd, name, static_cast<mode_t>(mode), AT_SYMLINK_NOFOLLOW) == 0) return Status::success();
    if (errno == EOPNOTSUPP || errno == ENOTSUP) return Status::success();  // a link swapped in meanwhile
    return posixError(errno, what);
  }
  struct stat st;
  if (::fstat(file.get(), &st) != 0) return posixError(errno, what);
  if (!S_ISREG(st.st_mode) || (st.st_mode & 07777) == mode) return Status::success();
  if (::fchmod(file.get(), static_cast<mode_t>(mode)) != 0) return posixError(errno, what);
  return Status::success();
}

}  // namespace

Result<std::vector<ScannedEntry>> PosixFileSystem::scan(const Path& path, TreeState state) const {
  std::vector<ScannedEntry> found;
  struct stat st;
  Fd dir;
  // A missing entry is an empty scan, in a tree of either kind.
  const Look look = lookAt(AT_FDCWD, path.c_str(), true, TreeState::busy, st, dir);
  if (look == Look::gone) return found;
  if (look != Look::found) return lookFailure(look, path);
  const bool mounted =
      dir.valid() && state == TreeState::busy && isMountRoot(AT_FDCWD, path.c_str(), st, parentDevice(path, st.st_dev));
  found.push_back({"", kindOf(st.st_mode), identityOf(st), mounted});
  if (!dir.valid() || mounted) return found;
  std::string relative;
  if (Status scanned = scanDirectory(dir.get(), st.st_dev, path, relative, state, found); !scanned) {
    return scanned.error();
  }
  return found;
}

Status PosixFileSystem::walk(const Path& directory, const std::function<Status(const WalkEntry&)>& visit) const {
  Fd dir(openDirectoryAt(AT_FDCWD, directory.c_str(), true));
  if (!dir.valid()) return Status::success();  // nothing to walk
  return walkDirectory(dir.get(), directory, visit);
}

Status PosixFileSystem::setPermissions(const Path& path, unsigned mode) {
  return changeMode(AT_FDCWD, path.c_str(), path, mode);
}

Status PosixFileSystem::setPermissionsAt(const WalkEntry& entry, unsigned mode) {
  return changeMode(entry.folder, entry.name.c_str(), entry.path, mode);
}

Status PosixFileSystem::walkWithin(const Path& root, const Path& relative,
                                   const std::function<Status(const WalkEntry&)>& visit) const {
  Fd dir(openDirectoryAt(AT_FDCWD, root.c_str(), true));
  if (!dir.valid()) return Status::success();  // nothing to walk
  // Each level below the root is opened from the one above it, never through a link: the walk stays inside.
  for (const Path& part : relative) {
    if (part.empty() || part == ".") continue;
    if (part == "..") return Status::success();
    Fd next(openDirectoryAt(dir.get(), part.c_str(), false));
    if (!next.valid()) return Status::success();  // missing, or no longer a folder: nothing to walk
    dir.reset(next.release());
  }
  return walkDirectory(dir.get(), root / relative, visit);
}

}  // namespace platform
