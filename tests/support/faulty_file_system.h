// The real file layer, failing one chosen call: the Nth copy, rename (or exchange), permission change or flush, or
// cut off by a power cut. Used to prove what a failure at each step leaves behind. `before` runs as each of these calls
// reaches the layer, to change the world between a walk and a step.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <mutex>
#include <set>

#include "platform/system/fs.h"

namespace testing_support {

class FaultyFileSystem final : public platform::PosixFileSystem {
 public:
  enum class Operation { copy, rename, setPermissions, flush };

  // Makes the `nth` call (counting from 1) of `operation` fail with EIO instead of running; counts anew.
  void failAt(Operation operation, int nth) {
    operation_ = operation;
    nth_ = nth;
    counts_.clear();
  }
  void heal() { nth_ = 0; }
  void countAnew() { counts_.clear(); }
  int calls(Operation operation) {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_[operation];
  }
  // The error that an injected failure returns.
  platform::Error injected() const { return platform::posixError(EIO, "injected fault"); }

  platform::Status copyTree(const platform::Path& from, const platform::Path& to,
                            const platform::CopyProgress& progress) override {
    if (trips(Operation::copy, from)) return injected();
    platform::Status copied = PosixFileSystem::copyTree(from, to, progress);
    if (auto files = PosixFileSystem::scan(to, platform::TreeState::still)) {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const platform::ScannedEntry& file : files.value()) {
        if (file.kind != platform::EntryKind::regular) continue;
        unflushed_.insert(file.identity.inode);
        if (coarseSeconds == 0) continue;
        const std::int64_t seconds = file.identity.modifiedNs / 1'000'000'000;
        struct timespec times[2] = {{0, UTIME_OMIT}, {seconds - seconds % coarseSeconds, 0}};
        ::utimensat(AT_FDCWD, (to / file.relativePath).c_str(), times, AT_SYMLINK_NOFOLLOW);
      }
    }
    return copied;
  }

  // A power cut, as delayed allocation can leave one: each file that a copy wrote since the last flush comes
  // back below `root` with its size, inode, times and mode but zeros for data; then the machine starts again.
  void powerCut(const platform::Path& root) {
    const std::vector<platform::ScannedEntry> tree = PosixFileSystem::scan(root, platform::TreeState::still).value();
    for (const platform::ScannedEntry& file : tree) {
      if (file.kind != platform::EntryKind::regular || !unflushed_.count(file.identity.inode)) continue;
      const platform::Path path = root / file.relativePath;
      ::chmod(path.c_str(), 0600);
      std::ofstream(path, std::ios::in | std::ios::out) << std::string(file.identity.size, '\0');
      ::chmod(path.c_str(), file.identity.mode);
      forgotten_[file.identity.inode] = {PosixFileSystem::scan(path, platform::TreeState::still).value()[0].identity,
                                         file.identity};
    }
    unflushed_.clear();
    ++boots_;
  }
  // The file system's flush, as a stacked one's when `stacked` (it does nothing then), and each file's: both
  // count as flushes; what a flush reached is safe from the next power cut.
  platform::Result<bool> flushFileSystem(const platform::Path& root) override {
    if (trips(Operation::flush, root)) return injected();
    if (stacked) return false;
    platform::Result<bool> flushed = PosixFileSystem::flushFileSystem(root);
    std::lock_guard<std::mutex> lock(mutex_);
    unflushed_.clear();
    return flushed;
  }
  platform::Status flushFiles(const std::vector<platform::Path>& files) override {
    if (trips(Operation::flush, files.empty() ? platform::Path() : files[0])) return injected();
    platform::Status flushed = PosixFileSystem::flushFiles(files);
    std::lock_guard<std::mutex> lock(mutex_);
    for (const platform::Path& file : files) {
      flushedByThemselves.insert(file);
      struct stat st;
      if (::lstat(file.c_str(), &st) == 0) unflushed_.erase(st.st_ino);
    }
    return flushed;
  }
  std::string bootSession() const override { return "boot " + std::to_string(boots_); }
  platform::Status rename(const platform::Path& from, const platform::Path& to) override {
    if (trips(Operation::rename, from)) return injected();
    return PosixFileSystem::rename(from, to);
  }
  // An exchange counts as a rename: both put a piece in place.
  platform::Status exchange(const platform::Path& a, const platform::Path& b) override {
    if (withoutExchange) return platform::posixError(ENOTSUP, "no exchange here");
    if (trips(Operation::rename, a)) return injected();
    return PosixFileSystem::exchange(a, b);
  }
  platform::Status setPermissions(const platform::Path& path, unsigned mode) override {
    if (trips(Operation::setPermissions, path)) return injected();
    return PosixFileSystem::setPermissions(path, mode);
  }
  platform::Status setPermissionsAt(const platform::WalkEntry& entry, unsigned mode) override {
    if (trips(Operation::setPermissions, entry.path)) return injected();
    return PosixFileSystem::setPermissionsAt(entry, mode);
  }

  // Scans below `otherMount` report another device number, as the same files reached through a second mount do;
  // a file of `disguised` reports the identity given there, as two builds on images can give an edited file; the
  // file `vanishing` goes between its folder's listing and the look at it: a still scan fails, a busy one leaves
  // it out.
  platform::Result<std::vector<platform::ScannedEntry>> scan(const platform::Path& path,
                                                             platform::TreeState state) const override {
    auto found = PosixFileSystem::scan(path, state);
    if (!found) return found;
    std::vector<platform::ScannedEntry> entries = found.value();
    const bool moved =
        !otherMount.empty() && (path == otherMount || platform::isBelow(path.string(), otherMount.string()));
    for (auto entry = entries.begin(); entry != entries.end();) {
      const platform::Path full = entry->relativePath.empty() ? path : path / entry->relativePath;
      if (!vanishing.empty() && full == vanishing) {
        if (state == platform::TreeState::still)
          return platform::posixError(ENOENT, "无法读取“" + full.string() + "”的属性");
        entry = entries.erase(entry);
        continue;
      }
      if (moved) entry->identity.device += 1000;
      if (auto mask = disguised.find(full); mask != disguised.end()) entry->identity = mask->second;
      auto lost = forgotten_.find(entry->identity.inode);  // as it stood before the power cut
      if (lost != forgotten_.end() && lost->second.first == entry->identity) entry->identity = lost->second.second;
      ++entry;
    }
    return entries;
  }

  std::function<void(Operation, const platform::Path&)> before;
  platform::Path otherMount, vanishing;
  std::map<platform::Path, platform::FileIdentity> disguised;
  bool stacked = false;                          // a file system whose own flush stops short of the disk
  std::set<platform::Path> flushedByThemselves;  // each file that a flush of files reached
  // As on a system or file system that cannot exchange two entries in one step.
  bool withoutExchange = false;
  // As on a file system that keeps times in steps of this many seconds (FAT: 2): each file a copy writes gets its
  // modification time cut down to a step.
  int coarseSeconds = 0;

 private:
  // Runs `before`, then tells whether this call fails. The sync copies on two threads.
  bool trips(Operation operation, const platform::Path& path) {
    if (before) before(operation, path);
    std::lock_guard<std::mutex> lock(mutex_);
    return ++counts_[operation] == nth_ && operation == operation_;
  }

  Operation operation_ = Operation::copy;
  int nth_ = 0;
  std::map<Operation, int> counts_;
  std::set<std::uint64_t> unflushed_;                                                             // inodes
  std::map<std::uint64_t, std::pair<platform::FileIdentity, platform::FileIdentity>> forgotten_;  // now, before
  int boots_ = 1;
  std::mutex mutex_;
};

}  // namespace testing_support
