// The file layer: every file-system operation that the launcher's logic performs goes through `FileSystem`.
//
// Locations are `std::filesystem::path` values; a path's text is what child processes are given. Every failing
// operation returns an `Error` in the POSIX domain whose description names the operation, the path(s) and the
// system's reason. No operation throws.
//
// The real implementation (`PosixFileSystem`) is made once by the application and passed by reference; tests use
// it against temporary folders, or wrap it to inject faults. Calls are independent of one another: nothing is
// cached, and the object may be used from any thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system/error.h"

namespace platform {

using Path = std::filesystem::path;

// What a directory walk found at one location. The kind never follows a symbolic link.
enum class EntryKind : std::uint8_t { regular, directory, symlink, other };

struct WalkEntry {
  Path path;
  EntryKind kind;
  int folder = -1;   // the open folder that holds it, valid only while the walk visits it
  std::string name;  // its name in that folder
};

// One version of one entry, as its inode describes it. Two equal identities taken at different times prove that
// nothing was written to the entry in between: the change time moves on every write, permission change, rename
// or time change and cannot be set back, and a new file (even at the same path, with the same size and times)
// has another inode or another change time.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;  // since the epoch
  std::int64_t changedNs = 0;
  unsigned mode = 0;  // permission bits only (07777)
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// What a scan found at one location below the scanned entry.
struct ScannedEntry {
  std::string relativePath;  // "" for the scanned entry itself, else "a/b" below it
  EntryKind kind;
  FileIdentity identity;
  // A folder on another file system than the folder that holds it: a drive mounted there. A busy scan does not
  // go below it.
  bool mountPoint = false;
};

// Orders relative paths as a scan lists them: component by component, each by its bytes, so that everything
// below a folder follows the folder at once. Negative, zero or positive, as for strcmp.
int comparePaths(std::string_view a, std::string_view b);

// True when `path` lies below `folder` (both relative; every path lies below "").
bool isBelow(std::string_view path, std::string_view folder);

// The run of `sorted` (a list in comparePaths order of each element's `path` member) that is `path` itself or
// lies below it.
template <class T>
std::span<T> entriesAt(std::span<T> sorted, std::string_view path) {
  auto first = std::lower_bound(sorted.begin(), sorted.end(), path,
                                [](const T& entry, std::string_view p) { return comparePaths(entry.path, p) < 0; });
  auto last = first;
  while (last != sorted.end() && (last->path == path || isBelow(last->path, path))) ++last;
  return {first, last};
}

// What a scan makes of a name that vanishes, or turns into another kind, between its folder's listing and the
// look at it.
enum class TreeState : std::uint8_t {
  still,  // nothing should write there (the bundle): the scan fails with the system's error
  busy,   // programs may be writing there (the runtime root): the name is taken as what it now is, or left out
};

// The start of the hidden name beside `fileName` under which `writeFileAtomically` writes it before the rename
// (the writer's process number follows): what a writer stopped halfway leaves.
std::string atomicWriteTemporaryPrefix(std::string_view fileName);

// Told the size of each regular file as soon as a copy has written it whole.
using CopyProgress = std::function<void(std::uint64_t bytes)>;

// A file's content as it stood when it was opened, for as long as this object lives. Mapped from the system's
// cache of the file where it can be, so that a file of tens of megabytes costs neither a copy nor fresh memory;
// else read. Should another program shorten a mapped file in place meanwhile, what lay past its new end reads as
// zeros rather than stopping the process: a reader of such a text finds it malformed, or paths that match nothing.
class FileText {
 public:
  virtual ~FileText() = default;
  virtual std::string_view text() const = 0;
};

// An advisory lock on a file (flock), held for as long as this object lives, and released by the system when
// the process ends however it ends.
class HeldLock {
 public:
  virtual ~HeldLock() = default;
};

// The outcome of one try at a lock: the lock, or what its holder wrote into the file.
struct LockAttempt {
  std::unique_ptr<HeldLock> held;  // set when the lock was taken
  std::string holderNote;          // else what the holder wrote, as far as it could be read (may be empty)
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // True when something exists at `path`, following a final symbolic link: a dangling link counts as absent.
  virtual bool exists(const Path& path) const = 0;

  // True when anything is at `path`, a symbolic link (dangling or not) included: links are not followed.
  virtual bool existsWithoutFollowing(const Path& path) const = 0;

  // True when the current user (effective IDs) may execute the entry at `path` (a link is followed).
  virtual bool isExecutable(const Path& path) const = 0;

  // The canonical absolute path of `path`, every symbolic link resolved. Fails when any part does not exist.
  virtual Result<Path> canonical(const Path& path) const = 0;

  // Creates `path` and any missing parents. An existing directory at `path` is success; an existing entry of
  // another kind is a failure.
  virtual Status createDirectories(const Path& path) = 0;

  // Removes the entry at `path`: a file, a symbolic link (as a link, never followed) or a directory with
  // everything below it. A missing entry is a failure (ENOENT); an entry below it that vanishes meanwhile (another
  // remover) is not. Directories inside the tree that lack write or search permission for the owner are given it
  // so that their contents can go. Never crosses into another file system: a drive mounted at or below `path` is
  // left whole, with the folders that lead to it, and the removal fails with EBUSY naming it once everything
  // else is gone.
  virtual Status removeTree(const Path& path) = 0;

  // Moves the entry at `from` to `to` in one atomic step, on the same file system; a link is moved as a link.
  // Whoever opens `from` afterwards finds nothing, or what was put there later; open descriptors stay valid.
  virtual Status rename(const Path& from, const Path& to) = 0;

  // The names in `directory` ("." and ".." left out), in no particular order. Fails when it cannot be read.
  virtual Result<std::vector<std::string>> list(const Path& directory) const = 0;

  // Copies the entry at `from` to `to`, which must not exist; a directory is copied with everything below it.
  // Symbolic links are copied as links with their target text unchanged (relative, absolute and dangling
  // alike); permission bits and modification times are kept. Regular files are cloned where the file system
  // can share their blocks, else copied in the kernel; holes in sparse files stay holes. Other kinds (pipes,
  // sockets, devices) fail at once, even when one is swapped in for a file while the copy runs: nothing is
  // opened in a way that can block. On failure the partial copy stays where it is. A tree's files are copied
  // on two threads while its folders are made in order. `progress`, when set, is told each regular file's size
  // once it is copied, from either thread (a tree cloned in one call reports nothing).
  virtual Status copyTree(const Path& from, const Path& to, const CopyProgress& progress) = 0;

  // Reports the entry at `path` and, when it is a directory, everything below it, each with its identity,
  // reading nothing but metadata (links are never followed). The order is depth first, parents before their
  // contents, siblings by the bytes of their names: the order of `comparePaths`. A missing entry gives an
  // empty list; a directory inside the tree that cannot be read fails the scan. `state` says what a name that
  // vanishes meanwhile means (see TreeState); a busy scan reports a mount point and nothing below it.
  virtual Result<std::vector<ScannedEntry>> scan(const Path& path, TreeState state) const = 0;

  // Swaps the entries at `a` and `b` (files, links or directories) in one atomic step, on the same file
  // system: neither path is ever empty. Fails with ENOTSUP where the system or file system cannot, and
  // changes nothing then.
  virtual Status exchange(const Path& a, const Path& b) = 0;

  // Bytes that the current user may still write on the file system that holds `path`.
  virtual Result<std::uint64_t> freeSpace(const Path& path) const = 0;

  // The whole content of the regular file at `path` (a last link is not followed).
  virtual Result<std::string> readFile(const Path& path) const = 0;

  // The whole content of the regular file at `path` (a last link is not followed), as a FileText: for the large
  // files that a reader only reads, and that their writers replace by renaming rather than rewrite in place.
  virtual Result<std::shared_ptr<const FileText>> mapFile(const Path& path) const = 0;

  // Tries once, without waiting, to take the advisory lock of the file at `path` (made with mode 0644 when
  // missing, a last link not followed), and on success writes `note` into it for others to read. Fails only
  // when the file cannot be opened.
  virtual Result<LockAttempt> tryLockFile(const Path& path, const std::string& note) = 0;

  // Appends `text` to the file at `path`, made with mode 0644 when missing, in one write.
  virtual Status appendToFile(const Path& path, const std::string& text) = 0;

  // Replaces the file at `path` with `content` in one atomic step: the content is written under a hidden
  // name beside it, then renamed into place, so that a reader (or a crash of the process) finds the old
  // content or the new, never a part. It is not flushed to the disk first: after a power cut the file may be
  // empty or short, so a reader must be able to tell. The file is made with mode 0644.
  virtual Status writeFileAtomically(const Path& path, const std::string& content) = 0;

  // Makes everything written so far to the file system that holds `root` reach the disk in one call, where the
  // system has one and the file system passes it on to its storage (Linux's syncfs on a disk's file system),
  // and returns true once it has. Returns false, having done nothing, where each file must be flushed by itself:
  // on macOS, and on FUSE and stacked file systems (overlayfs, eCryptfs), whose syncfs stops short of the
  // storage below. Blocks for as long as the disk takes; fails with the system's error.
  virtual Result<bool> flushFileSystem(const Path& root) = 0;

  // Makes the data written so far to each of `files` reach the disk (fsync; on macOS then the drive's own cache,
  // once for each file system among them, since fsync stops short of it there). A file that is gone, or a link
  // now, is nothing to flush. Fails with the system's error at the first file that cannot be flushed.
  virtual Status flushFiles(const std::vector<Path>& files) = 0;

  // Names the system's current boot: it changes on every start of the machine, so that a power cut always lies
  // between two different names. Empty when the system does not say.
  virtual std::string bootSession() const = 0;

  // Walks everything below `directory`, depth first, parents before their contents, hidden entries included.
  // A symbolic link is reported and never followed into. Subdirectories that cannot be read are skipped.
  // `visit` is called once per entry; a failure that it returns stops the walk and is returned. Fails when an
  // entry's kind cannot be read. `directory` itself is opened even when it is a symbolic link.
  virtual Status walk(const Path& directory, const std::function<Status(const WalkEntry&)>& visit) const = 0;

  // Walks everything below `root`/`relative` as `walk` does, reaching that folder from `root` one level at a
  // time without following a link: a folder swapped for a link, before or during the walk, is not walked
  // through. Nothing to walk (missing, or a link on the way) is success.
  virtual Status walkWithin(const Path& root, const Path& relative,
                            const std::function<Status(const WalkEntry&)>& visit) const = 0;

  // As `setPermissions`, for an entry that a walk is visiting, reached through the folder the walk holds open:
  // a folder on its path swapped for a link since the walk read it cannot redirect the change.
  virtual Status setPermissionsAt(const WalkEntry& entry, unsigned mode) = 0;

  // Replaces the permission bits of the regular file at `path` with `mode`, for example 0755. The last component
  // is never followed: when the entry is no longer a regular file (a link, a pipe or a folder put in its place)
  // or is gone, nothing is changed and the result is success. A file that has the mode already is left
  // untouched (its change time stays). Fails when the entry cannot be changed.
  virtual Status setPermissions(const Path& path, unsigned mode) = 0;
};

// The operating system's file system.
class PosixFileSystem : public FileSystem {
 public:
  bool exists(const Path& path) const override;
  bool existsWithoutFollowing(const Path& path) const override;
  bool isExecutable(const Path& path) const override;
  Result<Path> canonical(const Path& path) const override;
  Status createDirectories(const Path& path) override;
  Status removeTree(const Path& path) override;
  Status rename(const Path& from, const Path& to) override;
  Result<std::vector<std::string>> list(const Path& directory) const override;
  Status copyTree(const Path& from, const Path& to, const CopyProgress& progress) override;
  Result<std::vector<ScannedEntry>> scan(const Path& path, TreeState state) const override;
  Status exchange(const Path& a, const Path& b) override;
  Result<std::uint64_t> freeSpace(const Path& path) const override;
  Result<std::string> readFile(const Path& path) const override;
  Result<std::shared_ptr<const FileText>> mapFile(const Path& path) const override;
  Status writeFileAtomically(const Path& path, const std::string& content) override;
  Result<bool> flushFileSystem(const Path& root) override;
  Status flushFiles(const std::vector<Path>& files) override;
  std::string bootSession() const override;
  Result<LockAttempt> tryLockFile(const Path& path, const std::string& note) override;
  Status appendToFile(const Path& path, const std::string& text) override;
  Status walk(const Path& directory, const std::function<Status(const WalkEntry&)>& visit) const override;
  Status setPermissions(const Path& path, unsigned mode) override;
  Status walkWithin(const Path& root, const Path& relative,
                    const std::function<Status(const WalkEntry&)>& visit) const override;
  Status setPermissionsAt(const WalkEntry& entry, unsigned mode) override;
};

}  // namespace platform
