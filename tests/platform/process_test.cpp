#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/process.h"
#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::writeScript;

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

}  // namespace
