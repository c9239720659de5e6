#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "platform/process.h"
#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::writeFile;
using testing_support::writeScript;

TEST(RunProcess, SeparatesStreamsPassesArgumentsWithoutAShellAndReportsExit) {
  TempDir dir;
  writeScript(dir / "tool", R"(printf '%s|' "$@"; printf 'to stderr' >&2; exit 4)");
  auto run = platform::runProcess(dir / "tool", {"a b", "$HOME", "*"});
  ASSERT_TRUE(run.ok());
  EXPECT_EQ(run.value().standardOutput, "a b|$HOME|*|");
  EXPECT_EQ(run.value().standardError, "to stderr");
  EXPECT_TRUE(run.value().exitedNormally);
  EXPECT_EQ(run.value().exitStatus, 4);
}

TEST(RunProcess, InheritsWorkingDirectoryEnvironmentAndStandardInputButNoOtherDescriptor) {
  TempDir dir;
  writeScript(dir / "tool", R"(pwd; printf '%s' "$PATH")");
  auto run = platform::runProcess(dir / "tool", {});
  ASSERT_TRUE(run.ok());
  EXPECT_EQ(run.value().standardOutput,
            std::filesystem::current_path().string() + "\n" + std::string(std::getenv("PATH")));

  int leak = ::open("/dev/null", O_RDONLY);  // not close-on-exec, as libraries sometimes leave them
  ASSERT_GE(leak, 3);
  struct stat input;
  std::string expected =
      ::fstat(0, &input) == 0 ? std::to_string(input.st_dev) + ":" + std::to_string(input.st_ino) : "closed";
  auto descriptors = platform::runProcess(FAKE_BACKEND, {"descriptors"});
  ::close(leak);
  ASSERT_TRUE(descriptors.ok());
  EXPECT_EQ(descriptors.value().standardOutput, expected + "|0,1,2");
}

TEST(RunProcess, DrainsManyMegabytesOnBothStreams) {
  auto run = platform::runProcess(FAKE_BACKEND, {"megabytes"});
  ASSERT_TRUE(run.ok());
  EXPECT_EQ(run.value().standardOutput.size(), 8u * 1024 * 1024);
  EXPECT_EQ(run.value().standardError.size(), 8u * 1024 * 1024);
  EXPECT_EQ(run.value().exitStatus, 3);
}

TEST(RunProcess, ReportsATerminatingSignal) {
  auto run = platform::runProcess(FAKE_BACKEND, {"signal"});
  ASSERT_TRUE(run.ok());
  EXPECT_FALSE(run.value().exitedNormally);
  EXPECT_EQ(run.value().terminationSignal, SIGKILL);
  EXPECT_EQ(run.value().standardOutput, "partial output");
}

TEST(RunProcess, StartFailuresAreReadable) {
  TempDir dir;
  writeFile(dir / "not-executable", "#!/bin/sh\n", 0644);
  writeFile(dir / "no-format", "plain text, no interpreter line", 0755);
  struct Row {
    platform::Path path;
    int code;
    const char* reason;
  };
  for (const Row& row :
       {Row{dir / "missing", ENOENT, "没有那个文件或目录"}, Row{dir.path(), EACCES, "权限不够"},
        Row{dir / "not-executable", EACCES, "权限不够"}, Row{dir / "no-format", ENOEXEC, "可执行文件格式错误"}}) {
    if (row.path == dir / "not-executable" && testing_support::runningAsRoot()) continue;
    auto run = platform::runProcess(row.path, {"x"});
    ASSERT_FALSE(run.ok()) << row.path;
    EXPECT_EQ(run.error().code(), row.code) << row.path;
    EXPECT_EQ(run.error().localizedDescription(),
              "无法启动“" + row.path.string() + "”：" + row.reason + "（错误码 " + std::to_string(row.code) + "）");
  }
}

}  // namespace
