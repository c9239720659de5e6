#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#if defined(__APPLE__)
#include <sys/sysctl.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/system/file_data.h"
#include "platform/system/fs.h"
#include "platform/system/text.h"
#include "platform/system/unique_fd.h"

namespace platform {
namespace {

std::string q(const Path& path) { return "“" + path.string() + "”"; }

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

using Fd = detail::UniqueFd;

// Nanoseconds since the epoch, held at the ends of the range for times beyond 1677–2262 (which some file systems
// store): such a time still compares as itself against the same time, and the change time, which the system
// sets from its clock, still tells two versions apart.
std::int64_t nanoseconds(const struct timespec& time) {
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

FileIdentity identityOf(const struct stat& st) {
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

EntryKind kindOf(mode_t mode) {
  return S_ISREG(mode)   ? EntryKind::regular
         : S_ISDIR(mode) ? EntryKind::directory
         : S_ISLNK(mode) ? EntryKind::symlink
                         : EntryKind::other;
}

int openDirectoryAt(int dirFd, const char* name, bool followLink) {
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  int fd;
  do {
    fd = ::openat(dirFd, name, flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

using detail::DirectoryName;

Status listDirectory(int dirFd, const Path& path, std::vector<DirectoryName>& names) {
  if (detail::readDirectory(dirFd, names) != 0) return posixError(errno, "无法读取目录" + q(path));
  return Status::success();
}

// ---- copy ----

Status copySymlink(int srcDir, const char* srcName, int dstDir, const char* dstName, const struct stat& st,
                   const Path& from, const Path& to) {
  std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
  for (;;) {
    ssize_t n = ::readlinkat(srcDir, srcName, target.data(), target.size());
    if (n < 0) return posixError(errno, "无法读取符号链接" + q(from));
    if (static_cast<size_t>(n) < target.size()) {
      target.resize(static_cast<size_t>(n));
      break;
    }
    target.resize(target.size() * 2);  // the link changed under us; read it again with more room
  }
  if (::symlinkat(target.c_str(), dstDir, dstName) != 0) {
    return posixError(errno, "无法创建符号链接" + q(to));
  }
  const Times times(st);
  // Not every file system keeps times on links; a refusal there loses nothing the runtime needs.
  if (::utimensat(dstDir, dstName, times, AT_SYMLINK_NOFOLLOW) != 0 && errno != EOPNOTSUPP && errno != ENOTSUP) {
    return posixError(errno, "无法设置" + q(to) + "的修改时间");
  }
  return Status::success();
}

Status copyRegular(int srcDir, const char* srcName, int dstDir, const char* dstName, detail::CopyHints& hints,
                   const Path& from, const Path& to) {
  // Opened without blocking and looked at again through the descriptor: a pipe put in the file's place since
  // the look by name must fail here, not hold the window until someone writes into it.
  Fd in(::openat(srcDir, srcName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  if (!in.valid()) return posixError(errno == ELOOP ? ENOTSUP : errno, "无法读取" + q(from));
  struct stat opened;
  if (::fstat(in.get(), &opened) != 0) return posixError(errno, "无法读取" + q(from));
  if (!S_ISREG(opened.st_mode)) return posixError(ENOTSUP, "无法复制特殊文件" + q(from));
  Fd out(::openat(dstDir, dstName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!out.valid()) return posixError(errno, "无法创建" + q(to));
  if (Status copied = detail::copyFileData(in.get(), out.get(), opened, hints, from, to); !copied) return copied;
  // The mode and times of the file as opened: those of the look by name may be older.
  if (::fchmod(out.get(), opened.st_mode & 07777) != 0) return posixError(errno, "无法设置" + q(to) + "的权限");
  const Times times(opened);
  if (::futimens(out.get(), times) != 0) return posixError(errno, "无法设置" + q(to) + "的修改时间");
  if (::close(out.release()) != 0) return posixError(errno, "无法写入" + q(to));
  if (hints.progress && *hints.progress) (*hints.progress)(static_cast<std::uint64_t>(opened.st_size));
  return Status::success();
}

// A folder being copied: both ends held open until the last of its files is in, then the copy is given the
// folder's mode and times (writing the contents changed the times, and a read-only mode would have stopped them).
// Whoever lets go last, the walk or a copying thread, does that.
class FolderCopy;

// Copies a tree's regular files on a few threads while one walk goes through the tree, creating its folders and
// links in order and handing each file over; the first failure stops both. Files are handed over through a short
// queue, so that only a few folders are held open at once.
class TreeCopy {
 public:
  TreeCopy(const detail::CopyHints& hints, unsigned threads) : hints_(hints), threadCount_(threads) {}
  ~TreeCopy() { (void)finish(); }

  bool failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_.has_value();
  }
  void fail(Status status) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_) failure_ = std::move(status);
    ready_.notify_all();
    room_.notify_all();
  }
  // Copies one regular file of `folder` here or on a copying thread.
  void copyFile(std::shared_ptr<FolderCopy> folder, std::string name, Path from, Path to);
  // Waits for every file handed over; returns the first failure.
  Status finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
      ready_.notify_all();
    }
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_ ? *failure_ : Status::success();
  }

 private:
  struct Task {
    std::shared_ptr<FolderCopy> folder;
    std::string name;
    Path from, to;
  };
  void run(Task& task, detail::CopyHints& hints);
  void work() {
    detail::CopyHints hints = hints_;  // each thread learns for itself what the file system cannot do
    for (;;) {
      Task task;
      std::deque<Task> dropped;  // let go of after the lock: a folder that goes with them takes the lock
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return !queue_.empty() || closed_ || failure_; });
        if (queue_.empty() || failure_) {
          dropped.swap(queue_);
          room_.notify_all();
          return;
        }
        task = std::move(queue_.front());
        queue_.pop_front();
        room_.notify_one();
      }
      run(task, hints);
    }
  }

  static constexpr size_t kQueued = 64;
  detail::CopyHints hints_;
  const unsigned threadCount_;
  bool started_ = false;
  std::mutex mutex_;
  std::condition_variable ready_, room_;
  std::deque<Task> queue_;
  std::optional<Status> failure_;
  bool closed_ = false;
  std::vector<std::thread> threads_;
};

class FolderCopy {
 public:
  FolderCopy(int srcFd, int dstFd, const struct stat& st, Path to, TreeCopy& tree)
      : src(srcFd), dst(dstFd), st_(st), to_(std::move(to)), tree_(tree) {}
  ~FolderCopy() {
    if (tree_.failed()) return;
    if (::fchmod(dst.get(), st_.st_mode & 07777) != 0) {
      tree_.fail(posixError(errno, "无法设置" + q(to_) + "的权限"));
    } else if (const Times times(st_); ::futimens(dst.get(), times) != 0) {
      tree_.fail(posixError(errno, "无法设置" + q(to_) + "的修改时间"));
    }
  }
  FolderCopy(const FolderCopy&) = delete;
  FolderCopy& operator=(const FolderCopy&) = delete;

  const Fd src, dst;

 private:
  struct stat st_;
  Path to_;
  TreeCopy& tree_;
};

void TreeCopy::run(Task& task, detail::CopyHints& hints) {
  // The file is looked at again as it is opened: whatever stands there now, only a regular file is copied.
  if (Status copied = copyRegular(task.folder->src.get(), task.name.c_str(), task.folder->dst.get(), task.name.c_str(),
                                  hints, task.from, task.to);
      !copied) {
    fail(std::move(copied));
  }
  task.folder.reset();  // the folder's mode and times follow its last file
}

void TreeCopy::copyFile(std::shared_ptr<FolderCopy> folder, std::string name, Path from, Path to) {
  Task task{std::move(folder), std::move(name), std::move(from), std::move(to)};
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (failure_) return;
    // The copying threads start with the first file handed over: a copy of one file, or of folders and links
    // alone, starts none.
    if (!started_) {
      started_ = true;
      for (unsigned k = 0; k < threadCount_; ++k) {
        try {
          threads_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
          break;  // fewer threads, or none: the walk then copies each file itself
        }
      }
    }
    if (!threads_.empty()) {
      room_.wait(lock, [this] { return queue_.size() < kQueued || failure_; });
      if (failure_) return;
      queue_.push_back(std::move(task));
      ready_.notify_one();
      return;
    }
  }
  run(task, hints_);
}

Status copyEntry(int srcDir, const char* srcName, int dstDir, const char* dstName, TreeCopy& tree,
                 detail::CopyHints& hints, const Path& from, const Path& to);

Status copyDirectory(int srcDir, const char* srcName, int dstDir, const char* dstName, const struct stat& st,
                     TreeCopy& tree, detail::CopyHints& hints, const Path& from, const Path& to) {
  Fd src(openDirectoryAt(srcDir, srcName, false));
  if (!src.valid()) return posixError(errno, "无法读取目录" + q(from));
  if (::mkdirat(dstDir, dstName, 0700) != 0) return posixError(errno, "无法创建目录" + q(to));
  Fd dst(openDirectoryAt(dstDir, dstName, false));
  if (!dst.valid()) return posixError(errno, "无法打开目录" + q(to));
  auto folder = std::make_shared<FolderCopy>(src.release(), dst.release(), st, to, tree);

  std::vector<DirectoryName> names;
  if (Status listed = listDirectory(folder->src.get(), from, names); !listed) return listed;
  for (DirectoryName& entry : names) {
    if (tree.failed()) return Status::success();  // the failure is the tree's to tell
    const char* name = entry.name.c_str();
    // A name that the listing knows for a regular file is copied on a copying thread, which looks at it again
    // as it opens it; every other entry here, in order.
    if (entry.type == DT_REG) {
      tree.copyFile(folder, std::move(entry.name), from / name, to / name);
      continue;
    }
    if (Status copied = copyEntry(folder->src.get(), name, folder->dst.get(), name, tree, hints, from / entry.name,
                                  to / entry.name);
        !copied) {
      return copied;
    }
  }
  return Status::success();
}

Status copyEntry(int srcDir, const char* srcName, int dstDir, const char* dstName, TreeCopy& tree,
                 detail::CopyHints& hints, const Path& from, const Path& to) {
  struct stat st;
  if (::fstatat(srcDir, srcName, &st, AT_SYMLINK_NOFOLLOW) != 0) return posixError(errno, "无法读取" + q(from));
  switch (st.st_mode & S_IFMT) {
    case S_IFREG:
      return copyRegular(srcDir, srcName, dstDir, dstName, hints, from, to);
    case S_IFDIR:
      return copyDirectory(srcDir, srcName, dstDir, dstName, st, tree, hints, from, to);
    case S_IFLNK:
      return copySymlink(srcDir, srcName, dstDir, dstName, st, from, to);
    default:
      return posixError(ENOTSUP, "无法复制特殊文件" + q(from));
  }
}

// ---- remove ----

// Removes one entry below an open directory. `top` is false for entries inside the tree, which may vanish
// while the removal runs (another remover got there first): that is no failure.
Status removeEntry(int dirFd, const char* name, const Path& path, bool top) {
  auto failed = [&](int error) {
    return !top && error == ENOENT ? Status::success() : posixError(error, "无法删除" + q(path));
  };
  struct stat st;
  if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return failed(errno);
  if (!S_ISDIR(st.st_mode)) {
    if (::unlinkat(dirFd, name, 0) != 0) return failed(errno);
    return Status::success();
  }
  // A directory copied read-only (as some packages ship them) must still be replaceable. The change never
  // follows a link that was put in the directory's place.
  if ((st.st_mode & S_IRWXU) != S_IRWXU) {
    if (::fchmodat(dirFd, name, (st.st_mode & 07777) | S_IRWXU, AT_SYMLINK_NOFOLLOW) != 0) return failed(errno);
  }
  Fd dir(openDirectoryAt(dirFd, name, false));
  if (!dir.valid()) return failed(errno);
  std::vector<DirectoryName> names;
  if (detail::readDirectory(dir.get(), names) != 0) {
    return !top && errno == ENOENT ? Status::success() : posixError(errno, "无法读取目录" + q(path));
  }
  for (const DirectoryName& entry : names) {
    if (Status removed = removeEntry(dir.get(), entry.name.c_str(), path / entry.name, false); !removed) {
      return removed;
    }
  }
  if (::unlinkat(dirFd, name, AT_REMOVEDIR) != 0) return failed(errno);
  return Status::success();
}

// ---- scan ----

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
// entry below and given back as it came.
Status scanDirectory(int dirFd, const Path& root, std::string& relative, TreeState state,
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
    found.push_back({relative, kindOf(st.st_mode), identityOf(st)});
    if (!sub.valid()) continue;
    if (Status scanned = scanDirectory(sub.get(), root, relative, state, found); !scanned) return scanned;
  }
  relative.resize(base);
  return Status::success();
}

// ---- walk ----

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

}  // namespace

int comparePaths(std::string_view a, std::string_view b) {
  // Only the first byte that differs decides, and there the separator sorts before every byte of a name.
  const size_t n = std::min(a.size(), b.size());
  const auto [x, y] = std::mismatch(a.data(), a.data() + n, b.data());
  if (x == a.data() + n) return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
  if (*x == '/' || *y == '/') return *x == '/' ? -1 : 1;
  return static_cast<unsigned char>(*x) < static_cast<unsigned char>(*y) ? -1 : 1;
}

std::string atomicWriteTemporaryPrefix(std::string_view fileName) {
  std::string prefix = ".";
  prefix.append(fileName).append(".tmp-");
  return prefix;
}

bool isBelow(std::string_view path, std::string_view folder) {
  if (folder.empty()) return !path.empty();
  return path.size() > folder.size() && path[folder.size()] == '/' && path.substr(0, folder.size()) == folder;
}

bool PosixFileSystem::exists(const Path& path) const {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool PosixFileSystem::existsWithoutFollowing(const Path& path) const {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool PosixFileSystem::isExecutable(const Path& path) const {
  return ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

Result<Path> PosixFileSystem::canonical(const Path& path) const {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return posixError(errno, "无法解析路径" + q(path));
  Path result(resolved);
  std::free(resolved);
  return result;
}

Status PosixFileSystem::createDirectories(const Path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Status::success();
    return posixError(EEXIST, "无法创建目录" + q(path));
  }
  Path parent = path.parent_path();
  if (!parent.empty() && parent != path) {
    if (Status made = createDirectories(parent); !made) return made;
  }
  if (::mkdir(path.c_str(), 0777) != 0) {
    int saved = errno;
    if (saved == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Status::success();
    return posixError(saved, "无法创建目录" + q(path));
  }
  return Status::success();
}

Status PosixFileSystem::removeTree(const Path& path) { return removeEntry(AT_FDCWD, path.c_str(), path, true); }

Status PosixFileSystem::rename(const Path& from, const Path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return posixError(errno, "无法移动" + q(from) + "到" + q(to));
  return Status::success();
}

Result<std::vector<std::string>> PosixFileSystem::list(const Path& directory) const {
  Fd dir(openDirectoryAt(AT_FDCWD, directory.c_str(), true));
  if (!dir.valid()) return posixError(errno, "无法读取目录" + q(directory));
  std::vector<DirectoryName> entries;
  if (Status listed = listDirectory(dir.get(), directory, entries); !listed) return listed.error();
  std::vector<std::string> names;
  names.reserve(entries.size());
  for (DirectoryName& entry : entries) names.push_back(std::move(entry.name));
  return names;
}

Status PosixFileSystem::copyTree(const Path& from, const Path& to, const CopyProgress& progress) {
  if (std::optional<Status> cloned = detail::tryCloneTree(from, to)) return *cloned;
  detail::CopyHints hints;
  hints.progress = &progress;
  // Two copying threads keep two processors busy; more gain nothing where the disk is the limit.
  TreeCopy tree(hints, 2);
  Status walked = copyEntry(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), tree, hints, from, to);
  Status copied = tree.finish();
  return !walked ? walked : copied;
}

Result<std::vector<ScannedEntry>> PosixFileSystem::scan(const Path& path, TreeState state) const {
  std::vector<ScannedEntry> found;
  struct stat st;
  Fd dir;
  // A missing entry is an empty scan, in a tree of either kind.
  const Look look = lookAt(AT_FDCWD, path.c_str(), true, TreeState::busy, st, dir);
  if (look == Look::gone) return found;
  if (look != Look::found) return lookFailure(look, path);
  found.push_back({"", kindOf(st.st_mode), identityOf(st)});
  if (!dir.valid()) return found;
  std::string relative;
  if (Status scanned = scanDirectory(dir.get(), path, relative, state, found); !scanned) return scanned.error();
  return found;
}

Status PosixFileSystem::exchange(const Path& a, const Path& b) {
  if (detail::exchangeEntries(a, b) != 0) return posixError(errno, "无法交换" + q(a) + "和" + q(b));
  return Status::success();
}

Result<std::uint64_t> PosixFileSystem::freeSpace(const Path& path) const {
  struct statvfs st;
  if (::statvfs(path.c_str(), &st) != 0) return posixError(errno, "无法读取" + q(path) + "所在磁盘的空间");
  return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

namespace {

// Reads `fd` from its start, up to `limit` bytes. Returns false with errno when a read fails.
bool readAll(int fd, std::string& content, size_t limit) {
  char buffer[64 * 1024];
  while (content.size() < limit) {
    ssize_t got =
        ::pread(fd, buffer, std::min(sizeof buffer, limit - content.size()), static_cast<off_t>(content.size()));
    if (got == 0) return true;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    content.append(buffer, static_cast<size_t>(got));
  }
  return true;
}

// Writes all of `text` at `fd`'s offset. Returns false with errno when a write fails.
bool writeAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

}  // namespace

Result<std::string> PosixFileSystem::readFile(const Path& path) const {
  Fd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st;
  if (!file.valid() || ::fstat(file.get(), &st) != 0) return posixError(errno, "无法读取" + q(path));
  if (!S_ISREG(st.st_mode)) return posixError(EINVAL, "无法读取" + q(path));
  std::string content;
  content.reserve(static_cast<size_t>(st.st_size));  // read in place: a large file is not copied as it grows
  if (!readAll(file.get(), content, std::numeric_limits<size_t>::max())) return posixError(errno, "无法读取" + q(path));
  return content;
}

namespace {

class FlockHeld final : public HeldLock {
 public:
  explicit FlockHeld(int fd) : fd_(fd) {}
  ~FlockHeld() override { (void)::flock(fd_.get(), LOCK_UN); }

 private:
  Fd fd_;
};

}  // namespace

Result<LockAttempt> PosixFileSystem::tryLockFile(const Path& path, const std::string& note) {
  Fd file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0644));
  if (!file.valid()) return posixError(errno, "无法打开锁文件" + q(path));
  if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return posixError(errno, "无法锁定" + q(path));
    std::string holder;
    (void)readAll(file.get(), holder, 64 * 1024);  // as much of the holder's note as can be read
    return LockAttempt{nullptr, holder};
  }
  // The note is for others to read; a note that cannot be written costs only the holder's name.
  if (::ftruncate(file.get(), 0) == 0) (void)!::pwrite(file.get(), note.data(), note.size(), 0);
  return LockAttempt{std::make_unique<FlockHeld>(file.release()), ""};
}

Status PosixFileSystem::appendToFile(const Path& path, const std::string& text) {
  Fd file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0644));
  if (!file.valid() || !writeAll(file.get(), text)) return posixError(errno, "无法写入" + q(path));
  return Status::success();
}

Status PosixFileSystem::writeFileAtomically(const Path& path, const std::string& content) {
  const Path hidden =
      path.parent_path() / (atomicWriteTemporaryPrefix(path.filename().string()) + std::to_string(::getpid()));
  const std::string what = "无法写入" + q(path);
  (void)::unlink(hidden.c_str());  // left by a crash of this process's predecessor with the same number
  Fd file(::open(hidden.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!file.valid()) return posixError(errno, what);
  auto failed = [&](int error) {
    (void)::unlink(hidden.c_str());
    return posixError(error, what);
  };
  if (!writeAll(file.get(), content)) return failed(errno);
  // Not flushed to the disk on its own: on a journaling file system that would also write out every file
  // copied just before. A record that a power cut leaves empty or cut short is never trusted.
  if (::close(file.release()) != 0) return failed(errno);
  if (::rename(hidden.c_str(), path.c_str()) != 0) return failed(errno);
  return Status::success();
}

Status PosixFileSystem::flush(const Path& root, [[maybe_unused]] const std::vector<Path>& files) {
  const std::string what = "无法将" + q(root) + "写入磁盘";
  Fd folder(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) return posixError(errno, what);
#if defined(__APPLE__)
  for (const Path& file : files) {
    Fd open(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!open.valid()) {
      if (errno == ENOENT || errno == ELOOP) continue;  // gone, or a link now: nothing of ours to flush
      return posixError(errno, what);
    }
    if (::fsync(open.get()) != 0) return posixError(errno, what);
  }
  // fsync hands the data to the drive, which may still hold it in its own cache; this empties that cache.
  if (::fcntl(folder.get(), F_FULLFSYNC) != 0 && ::fsync(folder.get()) != 0) return posixError(errno, what);
#else
  if (::syncfs(folder.get()) != 0) return posixError(errno, what);
#endif
  return Status::success();
}

std::string PosixFileSystem::bootSession() const {
#if defined(__APPLE__)
  char uuid[64] = {};
  size_t length = sizeof uuid - 1;
  if (::sysctlbyname("kern.bootsessionuuid", uuid, &length, nullptr, 0) != 0) return {};
  return std::string(uuid, ::strnlen(uuid, length));
#else
  Fd file(::open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC));
  std::string id;
  if (!file.valid() || !readAll(file.get(), id, 64)) return {};
  return trimWhitespaceAndNewlines(id);
#endif
}

Status PosixFileSystem::walk(const Path& directory, const std::function<Status(const WalkEntry&)>& visit) const {
  Fd dir(openDirectoryAt(AT_FDCWD, directory.c_str(), true));
  if (!dir.valid()) return Status::success();  // nothing to walk
  return walkDirectory(dir.get(), directory, visit);
}

namespace {

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
