// What the POSIX file layer's files share: quoting a path for a message, reading an entry's identity and times,
// opening a folder below an open one.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/system/file_data.h"
#include "platform/system/fs.h"
#include "platform/system/unique_fd.h"

namespace platform::detail {

// The file open at `fd`, of `size` bytes, mapped read-only and guarded against being shortened meanwhile; none
// where it cannot be mapped (empty, a file system without mappings, too many mapped at once).
std::shared_ptr<const FileText> mapText(int fd, size_t size);

inline std::string q(const Path& path) { return "“" + path.string() + "”"; }

// Access and modification times of an entry, in the form that utimensat and futimens take.
struct Times {
  explicit Times(const struct stat& st) {
#if defined(__APPLE__)
    value[0] = st.st_atimespec;
    value[1] = st.st_mtimespec;
#else
    value[0] = st.st_atim;
    value[1] = st.st_mtim;
#endif
  }
  operator const struct timespec *() const { return value; }
  struct timespec value[2];
};

using Fd = UniqueFd;

// Nanoseconds since the epoch, held at the ends of the range for times beyond 1677–2262 (which some file systems
// store): such a time still compares as itself against the same time, and the change time, which the system
// sets from its clock, still tells two versions apart.
inline std::int64_t nanoseconds(const struct timespec& time) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max(),
                         kMin = std::numeric_limits<std::int64_t>::min();
  std::int64_t whole;
  if (__builtin_mul_overflow(static_cast<std::int64_t>(time.tv_sec), std::int64_t{1'000'000'000}, &whole)) {
    return time.tv_sec < 0 ? kMin : kMax;
  }
  std::int64_t total;
  if (__builtin_add_overflow(whole, static_cast<std::int64_t>(time.tv_nsec), &total)) return kMax;
  return total;
}

inline FileIdentity identityOf(const struct stat& st) {
#if defined(__APPLE__)
  const struct timespec &modified = st.st_mtimespec, &changed = st.st_ctimespec;
#else
  const struct timespec &modified = st.st_mtim, &changed = st.st_ctim;
#endif
  return {static_cast<std::uint64_t>(st.st_dev),
          static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::uint64_t>(st.st_size),
          nanoseconds(modified),
          nanoseconds(changed),
          static_cast<unsigned>(st.st_mode & 07777)};
}

inline EntryKind kindOf(mode_t mode) {
  return S_ISREG(mode)   ? EntryKind::regular
         : S_ISDIR(mode) ? EntryKind::directory
         : S_ISLNK(mode) ? EntryKind::symlink
                         : EntryKind::other;
}

// True when the folder `name` in `dirFd` (described by `st`) is the root of a mount: on another device than the
// folder that holds it (on `parentDevice`), or, on Linux, a bind mount of a folder of the same file system.
inline bool isMountRoot(int dirFd, const char* name, const struct stat& st, dev_t parentDevice) {
  if (st.st_dev != parentDevice) return true;
#if defined(STATX_ATTR_MOUNT_ROOT)
  struct statx details;
  if (::statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, 0, &details) == 0 &&
      (details.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    return (details.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  }
#else
  (void)dirFd, (void)name;
#endif
  return false;
}

// The device of the folder that holds `path`; `fallback` when it cannot be read.
inline dev_t parentDevice(const Path& path, dev_t fallback) {
  struct stat st;
  const Path parent = path.has_relative_path() ? path.parent_path() : path;
  return ::stat(parent.empty() ? "." : parent.c_str(), &st) == 0 ? st.st_dev : fallback;
}

inline int openDirectoryAt(int dirFd, const char* name, bool followLink) {
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  int fd;
  do {
    fd = ::openat(dirFd, name, flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

inline Status listDirectory(int dirFd, const Path& path, std::vector<DirectoryName>& names) {
  if (detail::readDirectory(dirFd, names) != 0) return posixError(errno, "无法读取目录" + q(path));
  return Status::success();
}

}  // namespace platform::detail
