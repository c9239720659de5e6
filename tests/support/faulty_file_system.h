// A file layer that forwards to the real one and fails one chosen call: the Nth copy, rename or permission
// change. Used to prove what a failure at each step leaves behind. `beforePermissions` runs just before each
// permission change reaches the real layer, to change the world between walk and change.
#pragma once

#include <map>

#include "platform/fs.h"

namespace testing_support {

class FaultyFileSystem final : public platform::FileSystem {
 public:
  enum class Operation { copy, rename, setPermissions };

  explicit FaultyFileSystem(platform::FileSystem& real) : real_(real) {}

  // Makes the `nth` call (counting from 1) of `operation` fail with EIO instead of running.
  void failAt(Operation operation, int nth) {
    operation_ = operation;
    nth_ = nth;
    counts_.clear();
  }
  void heal() { nth_ = 0; }
  int calls(Operation operation) const {
    auto found = counts_.find(operation);
    return found == counts_.end() ? 0 : found->second;
  }
  // The error that an injected failure returns.
  platform::Error injected() const { return platform::posixError(EIO, "injected fault"); }

  bool exists(const platform::Path& path) const override { return real_.exists(path); }
  bool existsWithoutFollowing(const platform::Path& path) const override { return real_.existsWithoutFollowing(path); }
  bool isExecutable(const platform::Path& path) const override { return real_.isExecutable(path); }
  platform::Result<platform::Path> canonical(const platform::Path& path) const override {
    return real_.canonical(path);
  }
  platform::Status walk(const platform::Path& directory,
                        const std::function<platform::Status(const platform::WalkEntry&)>& visit) const override {
    return real_.walk(directory, visit);
  }
  platform::Status createDirectories(const platform::Path& path) override { return real_.createDirectories(path); }
  platform::Status removeTree(const platform::Path& path) override { return real_.removeTree(path); }
  platform::Status copyTree(const platform::Path& from, const platform::Path& to) override {
    if (trips(Operation::copy)) return injected();
    return real_.copyTree(from, to);
  }
  platform::Status rename(const platform::Path& from, const platform::Path& to) override {
    if (trips(Operation::rename)) return injected();
    return real_.rename(from, to);
  }
  platform::Result<std::vector<std::string>> list(const platform::Path& directory) const override {
    return real_.list(directory);
  }
  platform::Status setPermissions(const platform::Path& path, unsigned mode) override {
    if (trips(Operation::setPermissions)) return injected();
    if (beforePermissions) beforePermissions(path);
    return real_.setPermissions(path, mode);
  }

  std::function<void(const platform::Path&)> beforePermissions;

 private:
  bool trips(Operation operation) { return ++counts_[operation] == nth_ && operation == operation_; }

  platform::FileSystem& real_;
  Operation operation_ = Operation::copy;
  int nth_ = 0;
  std::map<Operation, int> counts_;
};

}  // namespace testing_support
