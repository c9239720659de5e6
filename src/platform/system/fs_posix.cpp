#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#if !defined(__APPLE__)
#include <sys/vfs.h>
#endif
#if defined(__APPLE__)
#include <sys/sysctl.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/system/file_data.h"
#include "platform/system/fs.h"
#include "platform/system/fs_posix_shared.h"
#include "platform/system/text.h"
#include "platform/system/unique_fd.h"

namespace platform {
namespace {

using namespace detail;

// ---- remove ----

// Removes one entry below an open directory, which lies on `device`. `top` is false for entries inside the tree,
// which may vanish while the removal runs (another remover got there first): that is no failure. A folder that is
// the root of a mount is not ours to empty: it stays whole, the removal goes on around it and then fails (EBUSY).
Status removeEntry(int dirFd, const char* name, const Path& path, bool top, dev_t device) {
  auto failed = [&](int error) {
    return !top && error == ENOENT ? Status::success() : posixError(error, "无法删除" + q(path));
  };
  struct stat st;
  if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return failed(errno);
  if (!S_ISDIR(st.st_mode)) {
    if (::unlinkat(dirFd, name, 0) != 0) return failed(errno);
    return Status::success();
  }
  if (isMountRoot(dirFd, name, st, device)) return posixError(EBUSY, "无法删除另一个文件系统的挂载点" + q(path));
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
  Status mounted = Status::success();  // the first mount met below, which keeps this folder
  for (const DirectoryName& entry : names) {
    Status removed = removeEntry(dir.get(), entry.name.c_str(), path / entry.name, false, st.st_dev);
    if (!removed && removed.error().code() != EBUSY) return removed;
    if (!removed && mounted) mounted = removed;
  }
  if (!mounted) return mounted;
  if (::unlinkat(dirFd, name, AT_REMOVEDIR) != 0) return failed(errno);
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

Status PosixFileSystem::removeTree(const Path& path) {
  struct stat st;
  const dev_t device = ::lstat(path.c_str(), &st) == 0 ? parentDevice(path, st.st_dev) : 0;  // else: fails at once
  return removeEntry(AT_FDCWD, path.c_str(), path, true, device);
}

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

// Reads `fd` from its start, up to `limit` bytes, into `content` in place: in one call and a last one that finds
// the end, when the file holds about the `expected` bytes its size gave; more calls when it grew since or gave
// none (a file of /proc). Returns false with errno when a read fails.
bool readAll(int fd, std::string& content, size_t limit, size_t expected = 0) {
  size_t got = 0;
  content.resize(std::min(limit, expected + 4096));
  for (;;) {
    if (got == content.size()) {
      if (got == limit) return true;
      content.resize(std::min(limit, got * 2));
    }
    const ssize_t n = ::pread(fd, content.data() + got, content.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      content.resize(got);
      return n == 0;
    }
    got += static_cast<size_t>(n);
  }
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

// Opens the regular file at `path` to read it whole (a last link is not followed); gives its size as it stands.
Result<size_t> openToRead(const Path& path, Fd& file) {
  file.reset(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st;
  if (!file.valid() || ::fstat(file.get(), &st) != 0) return posixError(errno, "无法读取" + q(path));
  if (!S_ISREG(st.st_mode)) return posixError(EINVAL, "无法读取" + q(path));
  return static_cast<size_t>(st.st_size);
}

}  // namespace

Result<std::string> PosixFileSystem::readFile(const Path& path) const {
  Fd file;
  const Result<size_t> size = openToRead(path, file);
  if (!size) return size.error();
  std::string content;
  if (!readAll(file.get(), content, std::numeric_limits<size_t>::max(), size.value())) {
    return posixError(errno, "无法读取" + q(path));
  }
  return content;
}

Result<std::shared_ptr<const FileText>> PosixFileSystem::mapFile(const Path& path) const {
  Fd file;
  const Result<size_t> size = openToRead(path, file);
  if (!size) return size.error();
  if (std::shared_ptr<const FileText> mapped = mapText(file.get(), size.value())) return mapped;
  class ReadText final : public FileText {
   public:
    std::string_view text() const override { return content; }
    std::string content;
  };
  auto read = std::make_shared<ReadText>();
  if (!readAll(file.get(), read->content, std::numeric_limits<size_t>::max(), size.value())) {
    return posixError(errno, "无法读取" + q(path));
  }
  return std::shared_ptr<const FileText>(std::move(read));
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

Result<bool> PosixFileSystem::flushFileSystem(const Path& root) {
#if defined(__APPLE__)
  (void)root;
  return false;  // no such call: each file, then the drive's cache
#else
  const std::string what = "无法将" + q(root) + "写入磁盘";
  Fd folder(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) return posixError(errno, what);
  struct statfs kind;
  if (::fstatfs(folder.get(), &kind) != 0) return posixError(errno, what);
  constexpr unsigned long kFuse = 0x65735546, kOverlay = 0x794c7630, kEcryptfs = 0xf15f;
  const auto type = static_cast<unsigned long>(kind.f_type);
  if (type == kFuse || type == kOverlay || type == kEcryptfs) return false;
  if (::syncfs(folder.get()) != 0) return posixError(errno, what);
  return true;
#endif
}

Status PosixFileSystem::flushFiles(const std::vector<Path>& files) {
#if defined(__APPLE__)
  std::vector<std::pair<dev_t, Path>> lastOfEach;  // the last file flushed on each file system met
#endif
  for (const Path& file : files) {
    Fd open(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!open.valid()) {
      if (errno == ENOENT || errno == ELOOP) continue;  // gone, or a link now: nothing of ours to flush
      return posixError(errno, "无法将" + q(file) + "写入磁盘");
    }
    struct stat st;
    if (::fstat(open.get(), &st) != 0) return posixError(errno, "无法将" + q(file) + "写入磁盘");
    if (!S_ISREG(st.st_mode)) continue;  // a pipe or a folder put in its place: nothing of ours
    if (::fsync(open.get()) != 0) return posixError(errno, "无法将" + q(file) + "写入磁盘");
#if defined(__APPLE__)
    auto met = std::find_if(lastOfEach.begin(), lastOfEach.end(), [&](const auto& d) { return d.first == st.st_dev; });
    if (met == lastOfEach.end()) met = lastOfEach.insert(met, {st.st_dev, Path()});
    met->second = file;
#endif
  }
#if defined(__APPLE__)
  // fsync hands the data to the drive, which may still hold it in its own cache; this empties that cache, once
  // for each drive, after every file on it.
  for (const auto& [device, file] : lastOfEach) {
    Fd open(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (open.valid() && ::fcntl(open.get(), F_FULLFSYNC) != 0)
      return posixError(errno, "无法将" + q(file) + "写入磁盘");
  }
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

}  // namespace platform
