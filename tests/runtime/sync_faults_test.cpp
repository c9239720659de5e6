// What a failing copy, remove or permission change leaves behind, at every position of the copy plan.
#include <gtest/gtest.h>

#include "runtime/payload.h"
#include "runtime/runtime_sync.h"
#include "support/faulty_file_system.h"

namespace {

using Operation = testing_support::FaultyFileSystem::Operation;
using testing_support::modeOf;
using testing_support::readFile;

// A managed root synced from version 1, and a bundle at version 2 to sync it to.
struct FaultWorld {
  testing_support::RuntimeWorld world;
  testing_support::FaultyFileSystem faulty{world.fileSystem};
  runtime::RuntimeContext context{faulty, world.dir / "v2", world.support};

  FaultWorld() {
    EXPECT_TRUE(runtime::syncEmbeddedRuntime(world.context, world.root, "macos-arm64").ok());
    testing_support::writePayloads(world.dir / "v2", "v2");
    testing_support::writeFile(world.root / "venv/keep", "user data beside the seven");
  }

  // "v1", "v2" or "absent" for one entry of the plan.
  std::string versionOf(const char* name) {
    platform::Path path = world.root / name;
    if (!std::filesystem::exists(path)) return "absent";
    std::string probe = std::string(name) == "README.md"          ? readFile(path)
                        : std::string(name) == "requirements.txt" ? readFile(path)
                        : std::string(name) == "scripts"          ? readFile(path / "launcher_backend.py")
                        : std::string(name) == "web_lite3"        ? readFile(path / "index.html")
                        : std::string(name) == "python"           ? readFile(path / "bin/python3.11")
                        : std::string(name) == "wheelhouse"       ? readFile(path / "sample-1.0-py3-none-any.whl")
                                                                  : readFile(path / "bin/ffmpeg");
    return probe.find("v2") != std::string::npos ? "v2" : probe.find("v1") != std::string::npos ? "v1" : "?";
  }
};

TEST(SyncFaults, AFailingCopyAtEachPositionLeavesExactlyTheDescribedState) {
  for (int position = 1; position <= 7; ++position) {
    FaultWorld fault;
    fault.faulty.failAt(Operation::copy, position);
    platform::Status status = runtime::syncEmbeddedRuntime(fault.context, fault.world.root, "macos-arm64");
    ASSERT_FALSE(status.ok()) << position;
    EXPECT_EQ(status.error(), fault.faulty.injected()) << position;  // passed on unchanged
    for (int i = 1; i <= 7; ++i) {
      const char* name = runtime::kCopyPlan[i - 1].name;
      std::string expected = i < position ? "v2" : i == position ? "absent" : "v1";
      EXPECT_EQ(fault.versionOf(name), expected) << "copy fails at " << position << ", entry " << name;
    }
    EXPECT_EQ(fault.faulty.calls(Operation::setPermissions), 0) << "no repair after a failed copy";
    EXPECT_EQ(readFile(fault.world.root / "venv/keep"), "user data beside the seven");

    fault.faulty.heal();
    ASSERT_TRUE(runtime::syncEmbeddedRuntime(fault.context, fault.world.root, "macos-arm64").ok());
    for (const auto& entry : runtime::kCopyPlan) EXPECT_EQ(fault.versionOf(entry.name), "v2") << entry.name;
    EXPECT_EQ(modeOf(fault.world.root / "ffmpeg/bin/ffmpeg"), 0755);
  }
}

TEST(SyncFaults, AFailingRemoveAtEachPositionKeepsThatEntryOld) {
  for (int position = 1; position <= 7; ++position) {
    FaultWorld fault;
    fault.faulty.failAt(Operation::remove, position, EACCES);
    platform::Status status = runtime::syncEmbeddedRuntime(fault.context, fault.world.root, "macos-arm64");
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code(), EACCES);
    for (int i = 1; i <= 7; ++i) {
      EXPECT_EQ(fault.versionOf(runtime::kCopyPlan[i - 1].name), i < position ? "v2" : "v1")
          << "remove fails at " << position;
    }
  }
}

TEST(SyncFaults, AFailingPermissionChangeComesAfterEveryEntryIsCopied) {
  FaultWorld fault;
  ::chmod((fault.world.dir / "v2/runtime/macos-arm64/ffmpeg/bin/ffmpeg").c_str(), 0600);
  fault.faulty.failAt(Operation::setPermissions, 2);  // python/bin holds one file, so this is ffmpeg's
  platform::Status status = runtime::syncEmbeddedRuntime(fault.context, fault.world.root, "macos-arm64");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error(), fault.faulty.injected());
  for (const auto& entry : runtime::kCopyPlan) EXPECT_EQ(fault.versionOf(entry.name), "v2") << entry.name;
  EXPECT_EQ(modeOf(fault.world.root / "python/bin/python3.11"), 0755);
  EXPECT_EQ(modeOf(fault.world.root / "ffmpeg/bin/ffmpeg"), 0600);

  fault.faulty.failAt(Operation::createDirectories, 1);
  std::filesystem::remove_all(fault.world.support);
  status = runtime::syncEmbeddedRuntime(fault.context, fault.world.root, "macos-arm64");
  ASSERT_FALSE(status.ok());
  EXPECT_FALSE(std::filesystem::exists(fault.world.support));
}

}  // namespace
