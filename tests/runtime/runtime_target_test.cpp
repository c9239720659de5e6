#include <gtest/gtest.h>

#include "runtime/payload.h"
#include "runtime/runtime_target.h"

namespace {

using testing_support::TempDir;
using testing_support::writeFakeUname;

TEST(RuntimeTarget, HardwareNamesAreComparedWholeAfterTrimmingAndLowerCasing) {
  struct Row {
    const char* output;
    std::optional<std::string> target;
  };
  const Row rows[] = {
      {"arm64\n", "macos-arm64"},           {"aarch64", "macos-arm64"}, {" X86_64 ", "macos-x86_64"},
      {"amd64\r\n", "macos-x86_64"},        {"arm64e", std::nullopt},   {"", std::nullopt},
      {"\u3000arm64\u3000", "macos-arm64"},
  };
  for (const Row& row : rows) EXPECT_EQ(runtime::runtimeTargetForHardwareName(row.output), row.target) << row.output;
}

// Only the tool's standard output counts, and only after a zero exit; its standard error is ignored.
TEST(RuntimeTarget, AsksTheToolAndTrustsOnlyAZeroExit) {
  TempDir dir;
  EXPECT_EQ(runtime::detectRuntimeTarget("/usr/bin/uname").has_value(), true);  // this machine is known
  EXPECT_EQ(runtime::detectRuntimeTarget(writeFakeUname(dir.path(), "arm64\\n")), "macos-arm64");
  EXPECT_EQ(runtime::detectRuntimeTarget(writeFakeUname(dir.path(), "arm64\\n", 1)), std::nullopt);
  EXPECT_EQ(runtime::detectRuntimeTarget(dir / "no-such-uname"), std::nullopt);
  testing_support::writeScript(dir / "noisy", "echo 'error text' >&2; echo amd64");
  EXPECT_EQ(runtime::detectRuntimeTarget(dir / "noisy"), "macos-x86_64");
}

}  // namespace
