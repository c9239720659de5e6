#include <gtest/gtest.h>
#include <sys/stat.h>

#include <future>

#include "runtime/executable_repair.h"
#include "support/faulty_file_system.h"
#include "support/temp_dir.h"

namespace {

using testing_support::modeOf;
using testing_support::TempDir;
using testing_support::writeFile;

TEST(RepairExecutableBits, SetsRegularFilesTo0755AndNothingElse) {
  TempDir root;
  platform::PosixFileSystem fs;
  writeFile(root / "python/bin/python3.11", "x", 0644);
  writeFile(root / "python/bin/.hidden", "x", 0700);
  writeFile(root / "python/bin/sub/deeper/tool", "x", 0600);
  writeFile(root / "python/lib/module.py", "x", 0644);
  writeFile(root / "ffmpeg/bin/ffmpeg", "x", 0604);
  writeFile(root / "elsewhere.txt", "x", 0640);
  std::filesystem::create_symlink("../../elsewhere.txt", root / "python/bin/link");
  ::chmod((root / "python/bin/sub").c_str(), 0750);

  ASSERT_TRUE(runtime::repairManagedRuntimeExecutables(fs, root.path()).ok());
  EXPECT_EQ(modeOf(root / "python/bin/python3.11"), 0755);
  EXPECT_EQ(modeOf(root / "python/bin/.hidden"), 0755);
  EXPECT_EQ(modeOf(root / "python/bin/sub/deeper/tool"), 0755);
  EXPECT_EQ(modeOf(root / "ffmpeg/bin/ffmpeg"), 0755);
  EXPECT_EQ(modeOf(root / "python/bin/sub"), 0750);
  EXPECT_EQ(modeOf(root / "python/lib/module.py"), 0644);
  EXPECT_EQ(modeOf(root / "elsewhere.txt"), 0640);  // reached only through a link
}

TEST(RepairExecutableBits, MissingToolFoldersAreNoFailure) {
  TempDir root;
  platform::PosixFileSystem fs;
  EXPECT_TRUE(runtime::repairManagedRuntimeExecutables(fs, root.path()).ok());
  writeFile(root / "ffmpeg/bin/ffmpeg", "x", 0644);
  EXPECT_TRUE(runtime::repairManagedRuntimeExecutables(fs, root.path()).ok());
  EXPECT_EQ(modeOf(root / "ffmpeg/bin/ffmpeg"), 0755);
}

TEST(RepairExecutableBits, NeverChangesFilesOutsideTheRuntimeRoot) {
  TempDir world;
  platform::PosixFileSystem fs;
  writeFile(world / "system/bin/setuid-tool", "x", 04755);
  writeFile(world / "system/bin/plain", "x", 0644);
  platform::Path root = world / "root";
  std::filesystem::create_directories(root / "python");
  std::filesystem::create_directory_symlink(world / "system/bin", root / "python/bin");  // python/bin leads out
  std::filesystem::create_directory_symlink(world / "system", root / "ffmpeg");  // ffmpeg/bin lies under a link out

  ASSERT_TRUE(runtime::repairManagedRuntimeExecutables(fs, root).ok());
  EXPECT_EQ(modeOf(world / "system/bin/setuid-tool"), 04755);
  EXPECT_EQ(modeOf(world / "system/bin/plain"), 0644);

  // A link that stays inside the root is walked.
  std::filesystem::remove(root / "python/bin");
  writeFile(root / "python/real-bin/python3.11", "x", 0644);
  std::filesystem::create_directory_symlink("real-bin", root / "python/bin");
  ASSERT_TRUE(runtime::repairManagedRuntimeExecutables(fs, root).ok());
  EXPECT_EQ(modeOf(root / "python/real-bin/python3.11"), 0755);
}

// Something put in a tool's place between the walk and the permission change neither redirects the change nor
// holds the window: a link's target keeps its mode, and a pipe is not waited on.
TEST(RepairExecutableBits, AnEntrySwappedInAfterTheWalkIsLeftAlone) {
  const std::function<void(const platform::Path&, const platform::Path&)> swaps[] = {
      [](const platform::Path& tool, const platform::Path& outside) {
        std::filesystem::remove(tool);
        std::filesystem::create_symlink(outside, tool);
      },
      [](const platform::Path& tool, const platform::Path&) {
        std::filesystem::remove(tool);
        ::mkfifo(tool.c_str(), 0600);
      },
  };
  for (const auto& swap : swaps) {
    TempDir world;
    platform::PosixFileSystem real;
    testing_support::FaultyFileSystem fs(real);
    writeFile(world / "outside/secret", "x", 0600);
    writeFile(world / "root/python/bin/python3.11", "x", 0644);
    fs.beforePermissions = [&](const platform::Path& tool) { swap(tool, world / "outside/secret"); };
    auto repaired =
        std::async(std::launch::async, [&] { return runtime::repairExecutableBits(fs, world / "root/python/bin"); });
    ASSERT_EQ(repaired.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the repair hangs";
    EXPECT_TRUE(repaired.get().ok());
    EXPECT_EQ(modeOf(world / "outside/secret"), 0600);
  }
}

}  // namespace
