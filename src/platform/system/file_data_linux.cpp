#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "platform/system/file_data.h"

namespace platform::detail {
namespace {

std::string copyFailure(const Path& from, const Path& to) {
  return "无法复制“" + from.string() + "”到“" + to.string() + "”";
}

ssize_t systemKernelCopy(int in, off_t* inOffset, int out, off_t* outOffset, size_t length) {
  return ::copy_file_range(in, inOffset, out, outOffset, length, 0);
}

constexpr off_t kToTheEnd = -1;

// Copies from the descriptors' current offsets, `limit` bytes or (kToTheEnd) to the end of `in`.
Status copyByReadWrite(int in, int out, off_t limit, const Path& from, const Path& to) {
  // On the stack and not zeroed: empty files (many in a Python runtime) come here and should cost one read.
  std::array<char, 64 * 1024> buffer;
  while (limit != 0) {
    size_t want = limit < 0 ? buffer.size() : std::min(buffer.size(), static_cast<size_t>(limit));
    ssize_t got = ::read(in, buffer.data(), want);
    if (got == 0) return Status::success();
    if (got < 0) {
      if (errno == EINTR) continue;
      return posixError(errno, copyFailure(from, to));
    }
    for (ssize_t done = 0; done < got;) {
      ssize_t put = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
      if (put < 0) {
        if (errno == EINTR) continue;
        return posixError(errno, copyFailure(from, to));
      }
      done += put;
    }
    if (limit > 0) limit -= got;
  }
  return Status::success();
}

bool kernelCopyRefused(int error) {
  return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP || error == EPERM ||
         error == EBADF;
}

// Copies `length` bytes at the descriptors' current offsets in the kernel, then by reading and writing
// whatever the kernel did not take: a kernel copy that stops early (some file systems report 0 bytes for data
// that is there) never leaves a short file behind. With `toTheEnd`, also whatever the file has grown by.
Status copyRange(int in, int out, off_t length, bool toTheEnd, CopyHints& hints, const Path& from, const Path& to) {
  KernelCopy kernelCopy = hints.kernelCopyForTests ? hints.kernelCopyForTests : systemKernelCopy;
  off_t copied = 0;
  while (!hints.kernelCopyUnsupported && copied < length) {
    ssize_t n = kernelCopy(in, nullptr, out, nullptr, static_cast<size_t>(length - copied));
    if (n > 0) {
      copied += n;
      continue;
    }
    if (n == 0) break;
    if (errno == EINTR) continue;
    if (!kernelCopyRefused(errno)) return posixError(errno, copyFailure(from, to));
    if (copied == 0) hints.kernelCopyUnsupported = true;
    break;
  }
  return copyByReadWrite(in, out, toTheEnd ? kToTheEnd : length - copied, from, to);
}

// A file with holes: only its data is copied, each stretch at its own offset, and the size is set at the end,
// so the holes stay holes instead of being written out as zeros.
Status copySparse(int in, int out, off_t size, CopyHints& hints, const Path& from, const Path& to) {
  for (off_t data = 0; data < size;) {
    data = ::lseek(in, data, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // only a hole is left
    off_t hole = data < 0 ? -1 : ::lseek(in, data, SEEK_HOLE);
    if (hole < 0 || ::lseek(out, data, SEEK_SET) < 0 || ::lseek(in, data, SEEK_SET) < 0) {
      return posixError(errno, copyFailure(from, to));
    }
    // The last stretch reads on to the end, like any other copy; earlier ones stop at their hole.
    if (hole >= size) return copyRange(in, out, hole - data, true, hints, from, to);
    if (Status copied = copyRange(in, out, hole - data, false, hints, from, to); !copied) return copied;
    data = hole;
  }
  if (::ftruncate(out, size) != 0) return posixError(errno, copyFailure(from, to));
  return Status::success();
}

}  // namespace

Status copyFileData(int in, int out, const struct stat& source, CopyHints& hints, const Path& from, const Path& to) {
  const off_t size = source.st_size;
  if (size == 0) return copyByReadWrite(in, out, kToTheEnd, from, to);  // empty, or a size the system hides
  // A reflink shares the blocks (btrfs, XFS, bcachefs): one call, no data moved, holes kept. Where the file
  // system says it cannot, the rest of this copy does not ask again.
  if (!hints.cloneUnsupported) {
    if (::ioctl(out, FICLONE, in) == 0) return Status::success();
    if (errno == EOPNOTSUPP || errno == ENOTTY || errno == EXDEV || errno == EINVAL) hints.cloneUnsupported = true;
  }
  // Fewer blocks than the size needs: the file has holes.
  if (static_cast<off_t>(source.st_blocks) * 512 < size) return copySparse(in, out, size, hints, from, to);
  return copyRange(in, out, size, true, hints, from, to);
}

std::optional<Status> tryCloneTree(const Path&, const Path&) { return std::nullopt; }

int readDirectory(int dirFd, std::vector<DirectoryName>& names) {
  // getdents64 straight into a buffer: no duplicated descriptor and no directory stream to set up.
  alignas(struct dirent64) char buffer[32 * 1024];
  for (;;) {
    ssize_t got = ::getdents64(dirFd, buffer, sizeof buffer);
    if (got == 0) return 0;
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
      at += entry->d_reclen;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      names.push_back({name, entry->d_type});
    }
  }
}

int exchangeEntries(const Path& a, const Path& b) {
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) return 0;
  if (errno == ENOSYS || errno == EINVAL) errno = ENOTSUP;  // an old kernel, or a file system without it
  return -1;
}

}  // namespace platform::detail
