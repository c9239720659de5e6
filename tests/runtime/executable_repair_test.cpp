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

std::vector<int> modesOf(const platform::Path& root, std::initializer_list<const char*> names) {
  std::vector<int> modes;
  for (const char* name : names) modes.push_back(modeOf(root / name));
  return modes;
}

// Every regular file below the two tool folders becomes 0755, at any depth, hidden or not; folders, links and
// everything else keep their modes, and nothing outside the runtime root is reached, through links or not.
TEST(RepairExecutableBits, SetsToolsTo0755AndNothingElse) {
  TempDir world;
  platform::PosixFileSystem fs;
  const platform::Path root = world / "root";
  EXPECT_TRUE(runtime::repairManagedRuntimeExecutables(fs, root).ok());  // no tool folders: no failure
  writeFile(root / "python/bin/python3.11", "x", 0644);
  writeFile(root / "python/bin/.hidden", "x", 0700);
  writeFile(root / "python/bin/sub/deeper/tool", "x", 0600);
  writeFile(root / "python/lib/module.py", "x", 0644);
  writeFile(root / "elsewhere.txt", "x", 0640);
  std::filesystem::create_symlink("../../elsewhere.txt", root / "python/bin/link");
  ::chmod((root / "python/bin/sub").c_str(), 0750);
  writeFile(world / "system/bin/setuid-tool", "x", 04755);
  std::filesystem::create_directory_symlink(world / "system", root / "ffmpeg");  // ffmpeg/bin lies outside
  ASSERT_TRUE(runtime::repairManagedRuntimeExecutables(fs, root).ok());
  EXPECT_EQ(modesOf(root, {"python/bin/python3.11", "python/bin/.hidden", "python/bin/sub/deeper/tool",
                           "python/bin/sub", "python/lib/module.py", "elsewhere.txt"}),
            std::vector<int>({0755, 0755, 0755, 0750, 0644, 0640}));
  EXPECT_EQ(modeOf(world / "system/bin/setuid-tool"), 04755);

  // A tool folder linked to a place inside the root is walked; one linked out of it is not.
  std::filesystem::remove_all(root / "python/bin");
  writeFile(root / "python/real-bin/python3.11", "x", 0644);
  std::filesystem::create_directory_symlink("real-bin", root / "python/bin");
  std::filesystem::remove(root / "ffmpeg");
  std::filesystem::create_directories(root / "ffmpeg");
  std::filesystem::create_directory_symlink(world / "system/bin", root / "ffmpeg/bin");
  ASSERT_TRUE(runtime::repairManagedRuntimeExecutables(fs, root).ok());
  EXPECT_EQ(modeOf(root / "python/real-bin/python3.11"), 0755);
  EXPECT_EQ(modeOf(world / "system/bin/setuid-tool"), 04755);
}

// Something put in a tool's place between the walk and the permission change neither redirects the change nor
// holds the window: a link's target keeps its mode, and a pipe is not waited on.
TEST(RepairExecutableBits, AnEntrySwappedInAfterTheWalkIsLeftAlone) {
  for (bool pipe : {false, true}) {
    TempDir world;
    platform::PosixFileSystem real;
    testing_support::FaultyFileSystem fs(real);
    writeFile(world / "outside/secret", "x", 0600);
    writeFile(world / "root/python/bin/python3.11", "x", 0644);
    fs.beforePermissions = [&](const platform::Path& tool) {
      std::filesystem::remove(tool);
      pipe ? (void)::mkfifo(tool.c_str(), 0600) : std::filesystem::create_symlink(world / "outside/secret", tool);
    };
    auto repaired =
        std::async(std::launch::async, [&] { return runtime::repairExecutableBits(fs, world / "root/python/bin"); });
    ASSERT_EQ(repaired.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the repair hangs";
    EXPECT_TRUE(repaired.get().ok());
    EXPECT_EQ(modeOf(world / "outside/secret"), 0600);
  }
}

}  // namespace
