#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <set>
#include <thread>

#include "runtime/payload.h"
#include "runtime/runtime_error.h"
#include "runtime/runtime_sync.h"
#include "support/faulty_file_system.h"

namespace {

using Operation = testing_support::FaultyFileSystem::Operation;
using testing_support::modeOf;
using testing_support::readFile;
using testing_support::writeFile;

// Every entry below `root` with its kind, mode, link target and content, so two trees can be compared whole.
std::set<std::string> snapshot(const platform::Path& root) {
  std::set<std::string> entries;
  for (auto it = std::filesystem::recursive_directory_iterator(root); it != std::filesystem::end(it); ++it) {
    std::string row = std::filesystem::relative(it->path(), root).string() + " " + std::to_string(modeOf(it->path()));
    if (it->is_symlink()) {
      row += " -> " + std::filesystem::read_symlink(it->path()).string();
    } else if (it->is_regular_file()) {
      row += " = " + readFile(it->path());
    }
    entries.insert(row);
  }
  return entries;
}

// A managed root synced from version 1 and cleaned as the flow cleans it, and a bundle at version 2.
struct SyncWorld {
  testing_support::RuntimeWorld world;
  testing_support::FaultyFileSystem faulty{world.fileSystem};
  runtime::RuntimeContext v2{faulty, world.dir / "v2", world.support};
  std::set<std::string> cleanV2;

  SyncWorld() {
    testing_support::writePayloads(world.dir / "v2", "v2");
    testing_support::RuntimeWorld reference;
    reference.context.resourceDirectory = world.dir / "v2";
    EXPECT_TRUE(runtime::syncEmbeddedRuntime(reference.context, reference.root, "macos-arm64").ok());
    cleanV2 = snapshot(reference.root);
    EXPECT_TRUE(sync(world.context).ok());
    writeFile(world.root / "venv/keep", "user data beside the seven");
  }
  platform::Status sync(const runtime::RuntimeContext& context) {
    return runtime::syncEmbeddedRuntime(context, world.root, "macos-arm64");
  }
  // The root as the next press sees it once the run has removed what the sync moved aside.
  std::set<std::string> settled() {
    EXPECT_EQ(runtime::removeReplacedEntries(world.fileSystem, world.root), 0);
    std::filesystem::remove_all(world.root / "venv");
    return snapshot(world.root);
  }
  // "v1", "v2" or "absent" for one entry of the plan, read from a file that only a complete copy holds.
  std::string versionOf(const std::string& name) {
    static const std::map<std::string, std::string> probes = {
        {"README.md", ""},           {"requirements.txt", ""},  {"scripts", "launcher_backend.py"},
        {"web_lite3", "index.html"}, {"python", "lib/site.py"}, {"wheelhouse", "sample-1.0-py3-none-any.whl"},
        {"ffmpeg", "bin/ffmpeg"}};
    platform::Path path = probes.at(name).empty() ? world.root / name : world.root / name / probes.at(name);
    if (!std::filesystem::exists(path)) return "absent";
    std::string text = readFile(path);
    return text.find("v2") != std::string::npos ? "v2" : text.find("v1") != std::string::npos ? "v1" : "?";
  }
};

TEST(SyncEmbeddedRuntime, CopiesTheSevenEntriesAndMakesTheToolsExecutable) {
  testing_support::RuntimeWorld world;
  ASSERT_TRUE(runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64").ok());
  EXPECT_EQ(readFile(world.root / "README.md"), "readme v1");
  EXPECT_NE(readFile(world.root / "python/bin/python3.11").find("macos-arm64"), std::string::npos);
  EXPECT_EQ(std::filesystem::read_symlink(world.root / "python/bin/python3"), "python3.11");
  EXPECT_EQ(modeOf(world.root / "python/bin/python3.11"), 0755);
  EXPECT_EQ(modeOf(world.root / "ffmpeg/bin/ffmpeg"), 0755);
  EXPECT_EQ(modeOf(world.root / "python/lib/site.py"), 0644);
  EXPECT_FALSE(std::filesystem::exists(world.root / "not-in-plan.txt"));
  EXPECT_EQ(modeOf(world.resources / "runtime/macos-arm64/python/bin/python3.11"), 0644);  // the bundle is only read
}

TEST(SyncEmbeddedRuntime, ReplacesEachEntryWholeAndLeavesOthersAlone) {
  SyncWorld sync;
  platform::Path root = sync.world.root;
  writeFile(root / "scripts/added.py", "stray");
  std::filesystem::remove_all(root / "web_lite3");
  writeFile(root / "web_lite3", "a file where a folder belongs");
  std::filesystem::remove(root / "README.md");
  std::filesystem::create_directories(root / "README.md/sub");  // a folder where a file belongs
  writeFile(sync.world.dir / "user-data/important.txt", "keep me");
  std::filesystem::remove_all(root / "wheelhouse");
  std::filesystem::create_directory_symlink(sync.world.dir / "user-data", root / "wheelhouse");  // goes as a link
  std::filesystem::remove_all(root / "ffmpeg");
  std::filesystem::create_symlink(sync.world.dir / "gone", root / "ffmpeg");  // dangling
  writeFile(root / ".replaced-python.old-1/lib/site.py", "left by a crash");

  ASSERT_TRUE(sync.sync(sync.v2).ok());
  EXPECT_EQ(readFile(root / "venv/keep"), "user data beside the seven");
  EXPECT_EQ(readFile(sync.world.dir / "user-data/important.txt"), "keep me");
  EXPECT_FALSE(std::filesystem::exists(root / ".replaced-python.old-1"));
  EXPECT_EQ(sync.settled(), sync.cleanV2);
  ASSERT_TRUE(sync.sync(sync.v2).ok());
  EXPECT_EQ(sync.settled(), sync.cleanV2);
}

TEST(SyncEmbeddedRuntime, MissingResourcesOrPayloadsFailBeforeAnythingIsTouched) {
  testing_support::RuntimeWorld world;
  runtime::RuntimeContext noResources = world.context;
  noResources.resourceDirectory.reset();
  platform::Status status = runtime::syncEmbeddedRuntime(noResources, world.root, "macos-arm64");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error(), runtime::runtimeError(runtime::RuntimeErrorCode::noResources));

  std::filesystem::remove_all(world.resources / "runtime/macos-x86_64");
  status = runtime::syncEmbeddedRuntime(world.context, world.root, "macos-x86_64");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error(), runtime::runtimeError(runtime::RuntimeErrorCode::noMatchingPayload));
  EXPECT_FALSE(std::filesystem::exists(world.support));

  std::filesystem::remove_all(world.resources / "runtime/common");
  status = runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().code(), 3);
}

// A program started from the runtime keeps writing caches into it, by path and through a folder it holds open,
// while the user presses again and again.
TEST(SyncEmbeddedRuntime, AProgramWritingIntoTheRuntimeNeverBreaksAPress) {
  SyncWorld sync;
  platform::Path root = sync.world.root;
  std::filesystem::create_directories(root / "python/__pycache__");
  int heldOpen = ::open((root / "python/__pycache__").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(heldOpen, 0);
  std::atomic<bool> stop = false;
  std::thread writer([&] {
    for (int i = 0; !stop; ++i) {
      std::string name = "cache-" + std::to_string(i) + ".pyc";
      std::error_code ignored;
      std::filesystem::create_directories(root / "python/__pycache__", ignored);
      if (FILE* byPath = std::fopen((root / "python/__pycache__" / name).c_str(), "w")) std::fclose(byPath);
      int held = ::openat(heldOpen, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      if (held >= 0) ::close(held);
    }
  });
  for (int press = 0; press < 20; ++press) {
    platform::Status status = sync.sync(press % 2 ? sync.world.context : sync.v2);
    ASSERT_TRUE(status.ok()) << status.error().localizedDescription();
    std::string expected = press % 2 ? "v1" : "v2";
    for (const auto& entry : runtime::kCopyPlan) EXPECT_EQ(sync.versionOf(entry.name), expected) << entry.name;
    runtime::removeReplacedEntries(sync.world.fileSystem, root);  // may leave the held-open folder behind
  }
  stop = true;
  writer.join();
  ::close(heldOpen);
  ASSERT_TRUE(sync.sync(sync.v2).ok());
  std::filesystem::remove_all(root / "python/__pycache__");
  EXPECT_EQ(sync.settled(), sync.cleanV2);
}

// Whichever step fails, the entries before it are fresh, the one in hand and those after it are the old,
// complete ones, nothing is repaired, and the next press heals everything.
TEST(SyncEmbeddedRuntime, AFailingStepLeavesEveryEntryCompleteAndTheNextPressHeals) {
  for (Operation operation : {Operation::rename, Operation::copy}) {
    for (int position = 1; position <= 7; ++position) {
      SyncWorld sync;
      sync.faulty.failAt(operation, position);
      platform::Status status = sync.sync(sync.v2);
      ASSERT_FALSE(status.ok());
      EXPECT_EQ(status.error(), sync.faulty.injected());  // passed on unchanged
      for (int i = 1; i <= 7; ++i) {
        EXPECT_EQ(sync.versionOf(runtime::kCopyPlan[i - 1].name), i < position ? "v2" : "v1")
            << "operation " << static_cast<int>(operation) << " fails at " << position << ", entry " << i;
      }
      EXPECT_EQ(sync.faulty.calls(Operation::setPermissions), 0) << "no repair after a failed step";
      sync.faulty.heal();
      ASSERT_TRUE(sync.sync(sync.v2).ok());
      EXPECT_EQ(sync.settled(), sync.cleanV2);
    }
  }
}

// Real failures in the middle of a tree: the copy stops promptly with the path, the old entry stays whole at
// its place, and once the payload is mended the next press recovers the whole runtime.
TEST(SyncEmbeddedRuntime, AFailureInsideATreeKeepsTheOldEntryAndTheNextPressRecovers) {
  struct Row {
    const char* what;
    const char* entry;
    const char* path;  // under the v2 payload of that entry
    int error;
    bool needsUnprivilegedUser;
  };
  const Row rows[] = {
      {"a pipe first in a tree", "scripts", "scripts/a-pipe", ENOTSUP, false},
      {"a pipe deep in a tree", "python", "python/lib/deep/er/pipe", ENOTSUP, false},
      {"a pipe beside many files", "wheelhouse", "wheelhouse/z-pipe", ENOTSUP, false},
      {"an entry missing from the payload", "ffmpeg", "ffmpeg", ENOENT, false},
      {"a file that cannot be read", "web_lite3", "web_lite3/index.html", EACCES, true},
  };
  for (const Row& row : rows) {
    if (row.needsUnprivilegedUser && testing_support::runningAsRoot()) continue;  // run by unprivileged_tests
    SyncWorld sync;
    const std::string common = std::string(row.entry) == "scripts" || std::string(row.entry) == "web_lite3"
                                   ? "runtime/common/"
                                   : "runtime/macos-arm64/";
    platform::Path bad = sync.world.dir / "v2" / (common + row.path);
    for (int i = 0; i < 40; ++i) writeFile(bad.parent_path() / ("filler" + std::to_string(i)), "v2");
    std::function<void()> mend = [] {};
    if (row.error == ENOTSUP) {
      ASSERT_EQ(::mkfifo(bad.c_str(), 0644), 0);
      mend = [bad] { std::filesystem::remove(bad); };
    } else if (row.error == ENOENT) {
      std::filesystem::rename(bad, bad.string() + ".away");
      mend = [bad] { std::filesystem::rename(bad.string() + ".away", bad); };
    } else {
      ::chmod(bad.c_str(), 0);
      mend = [bad] { ::chmod(bad.c_str(), 0644); };
    }
    platform::Status status = sync.sync(sync.v2);
    ASSERT_FALSE(status.ok()) << row.what;
    EXPECT_EQ(status.error().code(), row.error) << row.what;
    EXPECT_NE(status.error().localizedDescription().find(row.path), std::string::npos) << row.what;
    EXPECT_EQ(sync.versionOf(row.entry), "v1") << row.what;

    mend();
    ASSERT_TRUE(sync.sync(sync.v2).ok()) << row.what;
    for (const auto& entry : runtime::kCopyPlan) EXPECT_EQ(sync.versionOf(entry.name), "v2") << row.what;
    EXPECT_EQ(runtime::removeReplacedEntries(sync.world.fileSystem, sync.world.root), 0) << row.what;
  }
}

}  // namespace
