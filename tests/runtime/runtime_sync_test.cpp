#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>

#include "runtime/payload.h"
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
  // "v1", "v2" or "absent" for each entry of the plan in its order, read from a file only a complete copy holds.
  std::string versions() {
    std::string all;
    for (const char* probe : {"README.md", "requirements.txt", "scripts/launcher_backend.py", "web_lite3/index.html",
                              "python/lib/site.py", "wheelhouse/sample-1.0-py3-none-any.whl", "ffmpeg/bin/ffmpeg"}) {
      const std::string text = std::filesystem::exists(world.root / probe) ? readFile(world.root / probe) : "";
      all += text.find("v2") != std::string::npos ? "v2 " : text.find("v1") != std::string::npos ? "v1 " : "absent ";
    }
    return all;
  }
};

// A fresh copy: the seven entries with their links, the tools made executable, nothing else, the bundle only
// read; each entry replaced whole on the next sync, whatever stood in its place; leftovers of a crash cleared.
TEST(SyncEmbeddedRuntime, ReplacesEachEntryWholeAndLeavesOthersAlone) {
  SyncWorld sync;
  platform::Path root = sync.world.root;
  EXPECT_EQ(std::filesystem::read_symlink(root / "python/bin/python3"), "python3.11");
  EXPECT_EQ(std::vector<int>({modeOf(root / "python/bin/python3.11"), modeOf(root / "ffmpeg/bin/ffmpeg"),
                              modeOf(root / "python/lib/site.py")}),
            std::vector<int>({0755, 0755, 0644}));
  EXPECT_FALSE(std::filesystem::exists(root / "not-in-plan.txt"));
  EXPECT_EQ(modeOf(sync.world.resources / "runtime/macos-arm64/python/bin/python3.11"), 0644);

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
  EXPECT_FALSE(std::filesystem::exists(root / ".replaced-python.old-1"));
  EXPECT_EQ(readFile(root / "venv/keep"), "user data beside the seven");
  EXPECT_EQ(sync.settled(), sync.cleanV2);
  EXPECT_EQ(readFile(sync.world.dir / "user-data/important.txt"), "keep me");
  ASSERT_TRUE(sync.sync(sync.v2).ok());
  EXPECT_EQ(sync.settled(), sync.cleanV2);
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
    EXPECT_EQ(sync.versions(), press % 2 ? "v1 v1 v1 v1 v1 v1 v1 " : "v2 v2 v2 v2 v2 v2 v2 ");
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
  // Each entry is copied once and renamed twice (the old one aside, the fresh one into place).
  for (auto [operation, callsPerEntry] : {std::pair{Operation::copy, 1}, std::pair{Operation::rename, 2}}) {
    for (int call = 1; call <= 7 * callsPerEntry; ++call) {
      const int position = (call + callsPerEntry - 1) / callsPerEntry;
      SyncWorld sync;
      sync.faulty.failAt(operation, call);
      platform::Status status = sync.sync(sync.v2);
      ASSERT_FALSE(status.ok());
      EXPECT_EQ(status.error(), sync.faulty.injected());  // passed on unchanged
      std::string expected;
      for (int i = 1; i <= 7; ++i) expected += i < position ? "v2 " : "v1 ";
      EXPECT_EQ(sync.versions(), expected) << "operation " << static_cast<int>(operation) << " fails at call " << call;
      EXPECT_EQ(sync.faulty.calls(Operation::setPermissions), 0) << "no repair after a failed step";
      sync.faulty.heal();
      ASSERT_TRUE(sync.sync(sync.v2).ok());
      EXPECT_EQ(sync.settled(), sync.cleanV2);
    }
  }
}

// A real failure in the middle of a tree (a pipe, which is never copied): the copy stops promptly with the
// path, the old entry stays whole at its place, and once the payload is mended the next press recovers.
TEST(SyncEmbeddedRuntime, AFailureInsideATreeKeepsTheOldEntryAndTheNextPressRecovers) {
  const std::pair<const char*, const char*> rows[] = {
      {"common/scripts/a-pipe", "v2 v2 v1 v1 v1 v1 v1 "},  // first in its tree
      {"macos-arm64/python/lib/deep/er/pipe", "v2 v2 v2 v2 v1 v1 v1 "},
      {"macos-arm64/wheelhouse/z-pipe", "v2 v2 v2 v2 v2 v1 v1 "},  // after many files
  };
  for (auto [path, versions] : rows) {
    SyncWorld sync;
    platform::Path pipe = sync.world.dir / "v2/runtime" / path;
    for (int i = 0; i < 40; ++i) writeFile(pipe.parent_path() / ("filler" + std::to_string(i)), "v2");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    platform::Status status = sync.sync(sync.v2);
    ASSERT_FALSE(status.ok()) << path;
    EXPECT_NE(status.error().localizedDescription().find(path), std::string::npos) << path;
    EXPECT_EQ(sync.versions(), versions) << path;
    std::filesystem::remove(pipe);
    ASSERT_TRUE(sync.sync(sync.v2).ok()) << path;
    EXPECT_EQ(sync.versions(), "v2 v2 v2 v2 v2 v2 v2 ") << path;
    EXPECT_EQ(runtime::removeReplacedEntries(sync.world.fileSystem, sync.world.root), 0) << path;
  }
}

}  // namespace
