#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/file_data.h"

namespace platform::detail {
namespace {

std::string copyFailure(const Path& from, const Path& to) {
  return "无法复制“" + from.string() + "”到“" + to.string() + "”";
}

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

}  // namespace

Status copyFileData(int in, int out, off_t size, CopyHints& hints, const Path& from, const Path& to) {
  if (size == 0) return copyByReadWrite(in, out, from, to);  // empty, or a file whose size the system hides
  // A reflink shares the blocks (btrfs, XFS, bcachefs): one call, no data moved. Where the file system says it
  // cannot, the rest of this copy does not ask again.
  if (!hints.cloneUnsupported) {
    if (::ioctl(out, FICLONE, in) == 0) return Status::success();
    if (errno == EOPNOTSUPP || errno == ENOTTY || errno == EXDEV || errno == EINVAL) hints.cloneUnsupported = true;
  }
  if (hints.kernelCopyUnsupported) return copyByReadWrite(in, out, from, to);

  off_t copied = 0;
  for (;;) {
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0);
    if (n > 0) {
      copied += n;
      // Done at the known size, unless the file has grown meanwhile.
      struct stat now;
      if (copied == size && ::fstat(in, &now) == 0 && now.st_size == size) return Status::success();
      continue;
    }
    if (n == 0) return Status::success();
    if (errno == EINTR) continue;
    bool unsupported =
        errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == EPERM || errno == EBADF;
    if (unsupported && copied == 0) {
      hints.kernelCopyUnsupported = true;
      return copyByReadWrite(in, out, from, to);
    }
    return posixError(errno, copyFailure(from, to));
  }
}

std::optional<Status> tryCloneTree(const Path&, const Path&) { return std::nullopt; }

}  // namespace platform::detail
