// The real file layer, failing one chosen call: the Nth copy, rename (or exchange) or permission change. Used to prove
// what a failure at each step leaves behind. `beforePermissions` runs just before each permission change reaches the
// real layer, to change the world between walk and change.
#pragma once

#include <map>
#include <mutex>

#include "platform/system/fs.h"

namespace testing_support {

class FaultyFileSystem final : public platform::PosixFileSystem {
 public:
  enum class Operation { copy, rename, setPermissions };

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
    if (trips(Operation::copy)) return injected();
    if (beforeCopy) beforeCopy(from);
    return PosixFileSystem::copyTree(from, to, progress);
  }
  platform::Status rename(const platform::Path& from, const platform::Path& to) override {
    if (trips(Operation::rename)) return injected();
    if (beforeRename) beforeRename(from);
    return PosixFileSystem::rename(from, to);
  }
  // An exchange counts as a rename: both put a piece in place.
  platform::Status exchange(const platform::Path& a, const platform::Path& b) override {
    if (withoutExchange) return platform::posixError(ENOTSUP, "no exchange here");
    if (trips(Operation::rename)) return injected();
    return PosixFileSystem::exchange(a, b);
  }
  platform::Status setPermissions(const platform::Path& path, unsigned mode) override {
    if (trips(Operation::setPermissions)) return injected();
    if (beforePermissions) beforePermissions(path);
    return PosixFileSystem::setPermissions(path, mode);
  }
  platform::Status setPermissionsAt(const platform::WalkEntry& entry, unsigned mode) override {
    if (trips(Operation::setPermissions)) return injected();
    if (beforePermissions) beforePermissions(entry.path);
    return PosixFileSystem::setPermissionsAt(entry, mode);
  }

  // Scans below `otherMount` report another device number, as the same files reached through a second mount do.
  platform::Result<std::vector<platform::ScannedEntry>> scan(const platform::Path& path,
                                                             platform::TreeState state) const override {
    auto found = PosixFileSystem::scan(path, state);
    if (!found || otherMount.empty() || !platform::isBelow(path.string(), otherMount.string())) return found;
    std::vector<platform::ScannedEntry> entries = found.value();
    for (platform::ScannedEntry& entry : entries) entry.identity.device += 1000;
    return entries;
  }

  std::function<void(const platform::Path&)> beforePermissions;
  std::function<void(const platform::Path&)> beforeCopy;
  std::function<void(const platform::Path&)> beforeRename;
  platform::Path otherMount;
  // As on a system or file system that cannot exchange two entries in one step.
  bool withoutExchange = false;

 private:
  // The sync copies on two threads.
  bool trips(Operation operation) {
    std::lock_guard<std::mutex> lock(mutex_);
    return ++counts_[operation] == nth_ && operation == operation_;
  }

  Operation operation_ = Operation::copy;
  int nth_ = 0;
  std::map<Operation, int> counts_;
  std::mutex mutex_;
};

}  // namespace testing_support
