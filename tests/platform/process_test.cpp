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

TEST(RunProcess, SeparatesStreamsPassesArgumentsWithoutAShellAndReportsTheEnd) {
  TempDir dir;
  writeScript(dir / "tool", R"(printf '%s|' "$@"; printf 'to stderr' >&2; exit 4)");
  auto run = platform::runProcess(dir / "tool", {"a b", "$HOME", "*"});
  ASSERT_TRUE(run.ok());
  EXPECT_EQ(run.value().standardOutput, "a b|$HOME|*|");
  EXPECT_EQ(run.value().standardError, "to stderr");
  EXPECT_EQ(std::pair(run.value().exitedNormally, run.value().exitStatus), std::pair(true, 4));
  writeScript(dir / "killed", "kill -9 $$");
  auto killed = platform::runProcess(dir / "killed", {});
  EXPECT_EQ(std::pair(killed.value().exitedNormally, killed.value().terminationSignal), std::pair(false, SIGKILL));
}

// The child has the launcher's working folder, environment and standard input, and no other descriptor of its.
TEST(RunProcess, InheritsWorkingFolderEnvironmentAndStandardInputButNoOtherDescriptor) {
  TempDir dir;
  writeScript(dir / "tool", R"(pwd; printf '%s\n' "$PATH"; stat -L -c %d:%i /proc/self/fd/0; exec ls /proc/self/fd)");
  struct stat input;
  if (::fstat(0, &input) != 0) ::open("/dev/null", O_RDONLY);  // a closed standard input would prove nothing
  ASSERT_EQ(::fstat(0, &input), 0);
  int leak = ::open("/dev/null", O_RDONLY);  // not close-on-exec, as libraries sometimes leave them
  ASSERT_GE(leak, 3);
  auto run = platform::runProcess(dir / "tool", {});
  ::close(leak);
  ASSERT_TRUE(run.ok());
  EXPECT_EQ(run.value().standardOutput, std::filesystem::current_path().string() + "\n" + std::getenv("PATH") + "\n" +
                                            std::to_string(input.st_dev) + ":" + std::to_string(input.st_ino) +
                                            "\n0\n1\n2\n3\n");  // 3: the listing's own
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
       {Row{dir / "missing", ENOENT, "没有那个文件或目录"}, Row{dir / "not-executable", EACCES, "权限不够"},
        Row{dir / "no-format", ENOEXEC, "可执行文件格式错误"}}) {
    if (row.path == dir / "not-executable" && testing_support::runningAsRoot()) continue;  // unprivileged_tests
    auto run = platform::runProcess(row.path, {"x"});
    ASSERT_FALSE(run.ok()) << row.path;
    EXPECT_EQ(run.error().localizedDescription(),
              "无法启动“" + row.path.string() + "”：" + row.reason + "（错误码 " + std::to_string(row.code) + "）");
  }
}

}  // namespace
