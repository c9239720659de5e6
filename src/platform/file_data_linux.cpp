#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "platform/file_data.h"

namespace platform::detail {
namespace {

std::string copyFailure(const Path& from, const Path& to) {
  return "无法复制“" + from.string() + "”到“" + to.string() + "”";
}

ssize_t systemKernelCopy(int in, off_t* inOffset, int out, off_t* outOffset, size_t length) {
  return ::copy_file_range(in, inOffset, out, outOffset, length, 0);
}

// Copies from the descriptors' current offsets to the end of `in`.
Status copyByReadWrite(int in, int out, const Path& from, const Path& to) {
  // On the stack and not zeroed: empty files (many in a Python runtime) come here and should cost one read.
  std::array<char, 64 * 1024> buffer;
  for (;;) {
    ssize_t got = ::read(in, buffer.data(), buffer.size());
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
  }
}

bool kernelCopyRefused(int error) {
  return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP || error == EPERM ||
         error == EBADF;
}

// Copies `length` bytes at the descriptors' current offsets in the kernel, then by reading and writing
// whatever the kernel did not take: a kernel copy that stops early (some file systems report 0 bytes for data
// that is there) never leaves a short file behind.
Status copyRange(int in, int out, off_t length, CopyHints& hints, const Path& from, const Path& to) {
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
  // Whatever is left, and anything the file has grown by meanwhile.
  return copyByReadWrite(in, out, from, to);
}

// A file with holes: only its data is copied, each stretch at its own offset, and the size is set at the end,
// so the holes stay holes instead of being written out as zeros.
Status copySparse(int in, int out, off_t size, CopyHints& hints, const Path& from, const Path& to) {
  off_t data = 0;
  while (data < size) {
    data = ::lseek(in, data, SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO) break;  // only a hole is left
      return posixError(errno, copyFailure(from, to));
    }
    off_t hole = ::lseek(in, data, SEEK_HOLE);
    if (hole < 0) return posixError(errno, copyFailure(from, to));
    if (::lseek(out, data, SEEK_SET) < 0 || ::lseek(in, data, SEEK_SET) < 0) {
      return posixError(errno, copyFailure(from, to));
    }
    // The last stretch reads on to the end, like any other copy; earlier ones stop at their hole.
    if (hole >= size) return copyRange(in, out, hole - data, hints, from, to);
    KernelCopy kernelCopy = hints.kernelCopyForTests ? hints.kernelCopyForTests : systemKernelCopy;
    off_t inAt = data, outAt = data;
    while (inAt < hole) {
      ssize_t n =
          hints.kernelCopyUnsupported ? 0 : kernelCopy(in, &inAt, out, &outAt, static_cast<size_t>(hole - inAt));
      if (n > 0) continue;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && !kernelCopyRefused(errno)) return posixError(errno, copyFailure(from, to));
      // Refused or stopped early: the rest of this stretch by reading and writing.
      std::array<char, 64 * 1024> buffer;
      while (inAt < hole) {
        ssize_t got =
            ::pread(in, buffer.data(), std::min<size_t>(buffer.size(), static_cast<size_t>(hole - inAt)), inAt);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return posixError(errno, copyFailure(from, to));
        if (got == 0) break;
        for (ssize_t done = 0; done < got;) {
          ssize_t put = ::pwrite(out, buffer.data() + done, static_cast<size_t>(got - done), outAt);
          if (put < 0 && errno == EINTR) continue;
          if (put < 0) return posixError(errno, copyFailure(from, to));
          done += put;
          outAt += put;
        }
        inAt += got;
      }
      break;
    }
    data = hole;
  }
  if (::ftruncate(out, size) != 0) return posixError(errno, copyFailure(from, to));
  return Status::success();
}

}  // namespace

Status copyFileData(int in, int out, const struct stat& source, CopyHints& hints, const Path& from, const Path& to) {
  const off_t size = source.st_size;
  if (size == 0) return copyByReadWrite(in, out, from, to);  // empty, or a file whose size the system hides
  // A reflink shares the blocks (btrfs, XFS, bcachefs): one call, no data moved, holes kept. Where the file
  // system says it cannot, the rest of this copy does not ask again.
  if (!hints.cloneUnsupported) {
    if (::ioctl(out, FICLONE, in) == 0) return Status::success();
    if (errno == EOPNOTSUPP || errno == ENOTTY || errno == EXDEV || errno == EINVAL) hints.cloneUnsupported = true;
  }
  // Fewer blocks than the size needs: the file has holes.
  if (static_cast<off_t>(source.st_blocks) * 512 < size) return copySparse(in, out, size, hints, from, to);
  return copyRange(in, out, size, hints, from, to);
}

std::optional<Status> tryCloneTree(const Path&, const Path&) { return std::nullopt; }

}  // namespace platform::detail
