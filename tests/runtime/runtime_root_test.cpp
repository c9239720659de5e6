#include <gtest/gtest.h>

#include "runtime/payload.h"
#include "runtime/runtime_root.h"

namespace {

using testing_support::readFile;
using testing_support::RuntimeWorld;

// Each failure found before the copy has its exact message in the runtime's error domain and leaves the
// Application Support folder untouched.
TEST(ResolveRuntimeRoot, FailuresBeforeTheCopyHaveTheirMessagesAndTouchNothing) {
  struct Row {
    const char* breakage;
    int code;
    const char* message;
  };
  const Row rows[] = {
      {"resources", 2, "应用内未发现可用运行时资源。"},
      {"payload", 3, "应用内未发现匹配当前架构的 runtime payload。"},
      {"support", 10, "无法定位 Application Support 目录。"},
      {"uname", 11, "无法识别当前 macOS 架构。"},
  };
  for (const Row& row : rows) {
    RuntimeWorld world;
    const std::string breakage = row.breakage;
    if (breakage == "resources") world.context.resourceDirectory.reset();
    if (breakage == "payload") std::filesystem::remove_all(world.resources / "runtime/macos-arm64");
    if (breakage == "support") world.context.applicationSupportDirectory.reset();
    if (breakage == "support") world.context.unameTool = world.dir / "uname-must-not-run";
    if (breakage == "uname") world.context.unameTool = testing_support::writeFakeUname(world.dir.path(), "arm64e");
    auto result = runtime::resolveRuntimeRoot(world.context);
    ASSERT_FALSE(result.ok()) << row.breakage;
    EXPECT_EQ(std::tuple(result.error().domain(), result.error().code(), result.error().localizedDescription()),
              std::tuple(std::string("VoverorEzororor"), row.code, std::string(row.message)));
    EXPECT_FALSE(std::filesystem::exists(world.support)) << row.breakage;
  }
}

// A link that resolves only inside the bundle leaves the copy incomplete; once the payload is mended, the next
// call syncs the whole root again.
TEST(ResolveRuntimeRoot, ALinkThatDoesNotResolveAtItsNewPlaceIsIncomplete) {
  RuntimeWorld world;
  platform::Path web = world.resources / "runtime/common/web_lite3";
  std::filesystem::remove_all(web);
  std::filesystem::create_symlink("../elsewhere/web", web);
  testing_support::writeFile(world.resources / "runtime/elsewhere/web/index.html", "x");
  auto result = runtime::resolveRuntimeRoot(world.context);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().localizedDescription(), "同步后的 runtime 目录不完整。");
  EXPECT_EQ(result.error().code(), 12);

  std::filesystem::remove(web);
  testing_support::writeFile(web / "index.html", "fixed");
  auto mended = runtime::resolveRuntimeRoot(world.context);
  ASSERT_TRUE(mended.ok());
  EXPECT_EQ(mended.value(), world.root);
  EXPECT_EQ(readFile(world.root / "web_lite3/index.html"), "fixed");
  EXPECT_TRUE(runtime::isRuntimeRoot(world.fileSystem, world.root));
}

}  // namespace
