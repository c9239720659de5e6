#include <gtest/gtest.h>

#include <set>

#include "runtime/payload.h"
#include "runtime/runtime_error.h"
#include "runtime/runtime_sync.h"

namespace {

using testing_support::modeOf;
using testing_support::readFile;
using testing_support::RuntimeWorld;
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

TEST(SyncEmbeddedRuntime, CopiesTheSevenEntriesAndMakesTheToolsExecutable) {
  RuntimeWorld world;
  ASSERT_TRUE(runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64").ok());
  EXPECT_EQ(readFile(world.root / "README.md"), "readme v1");
  EXPECT_EQ(readFile(world.root / "scripts/launcher_backend.py"), "print('backend v1')");
  EXPECT_NE(readFile(world.root / "python/bin/python3.11").find("macos-arm64"), std::string::npos);
  EXPECT_EQ(std::filesystem::read_symlink(world.root / "python/bin/python3"), "python3.11");
  EXPECT_EQ(modeOf(world.root / "python/bin/python3.11"), 0755);
  EXPECT_EQ(modeOf(world.root / "ffmpeg/bin/ffmpeg"), 0755);
  EXPECT_EQ(modeOf(world.root / "python/lib/site.py"), 0644);
  EXPECT_FALSE(std::filesystem::exists(world.root / "not-in-plan.txt"));
  // The payload in the bundle is only read.
  EXPECT_EQ(modeOf(world.resources / "runtime/macos-arm64/python/bin/python3.11"), 0644);
}

TEST(SyncEmbeddedRuntime, ReplacesEachEntryWholeAndLeavesOthersAlone) {
  RuntimeWorld world;
  ASSERT_TRUE(runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64").ok());
  std::set<std::string> once = snapshot(world.root);

  writeFile(world.root / "scripts" / "added.py", "stray");
  writeFile(world.root / "venv" / "pyvenv.cfg", "home = x");  // an entry beside the seven
  std::filesystem::remove_all(world.root / "web_lite3");
  writeFile(world.root / "web_lite3", "a file where a folder belongs");
  std::filesystem::remove(world.root / "README.md");
  std::filesystem::create_directories(world.root / "README.md" / "sub");  // a folder where a file belongs

  ASSERT_TRUE(runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64").ok());
  EXPECT_FALSE(std::filesystem::exists(world.root / "scripts" / "added.py"));
  EXPECT_EQ(readFile(world.root / "venv" / "pyvenv.cfg"), "home = x");
  std::filesystem::remove_all(world.root / "venv");
  EXPECT_EQ(snapshot(world.root), once);

  ASSERT_TRUE(runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64").ok());
  EXPECT_EQ(snapshot(world.root), once);
}

TEST(SyncEmbeddedRuntime, ALinkedEntryGoesAsALinkAndADanglingOneIsReplaced) {
  RuntimeWorld world;
  writeFile(world.dir / "user-data" / "important.txt", "keep me");
  std::filesystem::create_directories(world.root);
  std::filesystem::create_directory_symlink(world.dir / "user-data", world.root / "scripts");
  std::filesystem::create_symlink(world.dir / "gone", world.root / "wheelhouse");

  ASSERT_TRUE(runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64").ok());
  EXPECT_EQ(readFile(world.dir / "user-data" / "important.txt"), "keep me");
  EXPECT_FALSE(std::filesystem::is_symlink(world.root / "scripts"));
  EXPECT_FALSE(std::filesystem::is_symlink(world.root / "wheelhouse"));
  EXPECT_EQ(readFile(world.root / "wheelhouse/sample-1.0-py3-none-any.whl"), "v1");
}

TEST(SyncEmbeddedRuntime, MissingResourcesOrPayloadsFailBeforeAnythingIsTouched) {
  RuntimeWorld world;
  runtime::RuntimeContext noResources = world.context;
  noResources.resourceDirectory.reset();
  platform::Status status = runtime::syncEmbeddedRuntime(noResources, world.root, "macos-arm64");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error(), runtime::runtimeError(runtime::RuntimeErrorCode::noResources));

  std::filesystem::remove_all(world.resources / "runtime/macos-x86_64");
  status = runtime::syncEmbeddedRuntime(world.context, world.root, "macos-x86_64");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().code(), 3);
  EXPECT_EQ(status.error().localizedDescription(), "应用内未发现匹配当前架构的 runtime payload。");
  EXPECT_FALSE(std::filesystem::exists(world.support));
  EXPECT_TRUE(runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64").ok());

  std::filesystem::remove_all(world.resources / "runtime/common");
  status = runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().code(), 3);
}

TEST(SyncEmbeddedRuntime, FileSystemErrorsPassThroughAndStopThePlan) {
  RuntimeWorld world;
  ASSERT_TRUE(runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64").ok());
  testing_support::writePayloads(world.dir / "v2", "v2");
  world.context.resourceDirectory = world.dir / "v2";
  std::filesystem::remove_all(world.dir / "v2/runtime/macos-arm64/wheelhouse");
  ::chmod((world.root / "ffmpeg/bin/ffmpeg").c_str(), 0600);

  platform::Status status = runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().domain(), platform::kPosixErrorDomain);
  EXPECT_EQ(status.error().code(), ENOENT);
  EXPECT_NE(status.error().localizedDescription().find("wheelhouse"), std::string::npos);
  EXPECT_EQ(readFile(world.root / "README.md"), "readme v2");
  EXPECT_NE(readFile(world.root / "python/bin/python3.11").find("v2"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(world.root / "wheelhouse"));
  EXPECT_EQ(readFile(world.root / "ffmpeg/bin/ffmpeg"), "#!/bin/sh\n# v1\n");
  EXPECT_EQ(modeOf(world.root / "ffmpeg/bin/ffmpeg"), 0600);  // no repair ran
  EXPECT_EQ(modeOf(world.root / "python/bin/python3.11"), 0644);

  testing_support::writeFile(world.dir / "v2/runtime/macos-arm64/wheelhouse/w.whl", "v2");
  ASSERT_TRUE(runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64").ok());
  EXPECT_EQ(readFile(world.root / "ffmpeg/bin/ffmpeg"), "#!/bin/sh\n# v2\n");
  EXPECT_EQ(modeOf(world.root / "ffmpeg/bin/ffmpeg"), 0755);
}

TEST(SyncEmbeddedRuntime, DestinationThatCannotBeCreatedTouchesNothingElse) {
  RuntimeWorld world;
  writeFile(world.support, "Application Support is a file here");
  platform::Status status = runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().code(), EEXIST);
  EXPECT_EQ(readFile(world.support), "Application Support is a file here");
}

TEST(SyncEmbeddedRuntime, AnUnreadablePayloadFileFailsWithItsPath) {
  if (testing_support::runningAsRoot()) GTEST_SKIP() << "the superuser reads files whatever their mode";
  RuntimeWorld world;
  platform::Path secret = world.resources / "runtime/common/scripts/launcher_backend.py";
  ::chmod(secret.c_str(), 0000);
  platform::Status status = runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().code(), EACCES);
  EXPECT_NE(status.error().localizedDescription().find(secret.string()), std::string::npos);
}

}  // namespace
