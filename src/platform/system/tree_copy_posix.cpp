// The tree copy: folders made in order by one walk, files copied on a few threads beside it.
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

}  // namespace

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

}  // namespace platform
