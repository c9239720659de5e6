#include <gtest/gtest.h>

#include "runtime/payload.h"
#include "runtime/runtime_error.h"
#include "runtime/runtime_root.h"

namespace {

using testing_support::readFile;
using testing_support::RuntimeWorld;

TEST(RuntimeError, EachCodeHasItsExactMessageInOneDomain) {
  struct Row {
    runtime::RuntimeErrorCode code;
    int number;
    const char* message;
  };
  const Row rows[] = {
      {runtime::RuntimeErrorCode::noResources, 2, "应用内未发现可用运行时资源。"},
      {runtime::RuntimeErrorCode::noMatchingPayload, 3, "应用内未发现匹配当前架构的 runtime payload。"},
      {runtime::RuntimeErrorCode::noApplicationSupport, 10, "无法定位 Application Support 目录。"},
      {runtime::RuntimeErrorCode::unknownArchitecture, 11, "无法识别当前 macOS 架构。"},
      {runtime::RuntimeErrorCode::incompleteRuntime, 12, "同步后的 runtime 目录不完整。"},
  };
  for (const Row& row : rows) {
    platform::Error error = runtime::runtimeError(row.code);
    EXPECT_EQ(error.domain(), "VoverorEzororor");
    EXPECT_EQ(error.code(), row.number);
    EXPECT_EQ(error.localizedDescription(), row.message);
  }
}

TEST(ResolveRuntimeRoot, SyncsTheManagedRootOnEveryCall) {
  RuntimeWorld world;
  EXPECT_EQ(runtime::managedRuntimeRoot(world.context), world.root);
  auto first = runtime::resolveRuntimeRoot(world.context);
  ASSERT_TRUE(first.ok()) << first.error().localizedDescription();
  EXPECT_EQ(first.value(), world.root);
  EXPECT_TRUE(runtime::isRuntimeRoot(world.fileSystem, world.root));

  testing_support::writeFile(world.root / "README.md", "edited by hand");
  auto second = runtime::resolveRuntimeRoot(world.context);
  ASSERT_TRUE(second.ok());
  EXPECT_EQ(readFile(world.root / "README.md"), "readme v1");
}

TEST(ResolveRuntimeRoot, FailuresBeforeTheCopyTouchNothing) {
  RuntimeWorld world;
  std::filesystem::remove_all(world.resources / "runtime/macos-arm64");
  EXPECT_EQ(runtime::resolveRuntimeRoot(world.context).error(),
            runtime::runtimeError(runtime::RuntimeErrorCode::noMatchingPayload));
  runtime::RuntimeContext noResources = world.context;
  noResources.resourceDirectory.reset();
  EXPECT_EQ(runtime::resolveRuntimeRoot(noResources).error(),
            runtime::runtimeError(runtime::RuntimeErrorCode::noResources));

  runtime::RuntimeContext noSupport = world.context;
  noSupport.applicationSupportDirectory.reset();
  noSupport.unameTool = world.dir / "uname-must-not-run";
  auto result = runtime::resolveRuntimeRoot(noSupport);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), runtime::runtimeError(runtime::RuntimeErrorCode::noApplicationSupport));
  EXPECT_FALSE(runtime::managedRuntimeRoot(noSupport));

  for (auto [output, status] : {std::pair{"arm64e\\n", 0}, std::pair{"", 0}, std::pair{"arm64\\n", 1}}) {
    runtime::RuntimeContext unknown = world.context;
    unknown.unameTool = testing_support::writeFakeUname(world.dir.path(), output, status);
    result = runtime::resolveRuntimeRoot(unknown);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), 11);
    EXPECT_FALSE(std::filesystem::exists(world.support));
  }
}

TEST(ResolveRuntimeRoot, ALinkThatDoesNotResolveAtItsNewPlaceIsIncomplete) {
  RuntimeWorld world;
  platform::Path web = world.resources / "runtime/common/web_lite3";
  std::filesystem::remove_all(web);
  std::filesystem::create_symlink("../elsewhere/web", web);  // resolves only inside the bundle
  testing_support::writeFile(world.resources / "runtime/elsewhere/web/index.html", "x");
  auto result = runtime::resolveRuntimeRoot(world.context);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), runtime::runtimeError(runtime::RuntimeErrorCode::incompleteRuntime));
  EXPECT_TRUE(std::filesystem::is_symlink(world.root / "web_lite3"));

  // The dangling copy does not stop the next sync once the payload is mended.
  std::filesystem::remove(web);
  testing_support::writeFile(web / "index.html", "fixed");
  ASSERT_TRUE(runtime::resolveRuntimeRoot(world.context).ok());
  EXPECT_EQ(readFile(world.root / "web_lite3/index.html"), "fixed");
}

}  // namespace
