#include <gtest/gtest.h>

#include "runtime/payload.h"
#include "runtime/runtime_root.h"

namespace {

using testing_support::readFile;
using testing_support::RuntimeWorld;

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
  EXPECT_EQ(std::pair(result.error().domain(), result.error().code()), std::pair(std::string("VoverorEzororor"), 12));

  std::filesystem::remove(web);
  testing_support::writeFile(web / "index.html", "fixed");
  auto mended = runtime::resolveRuntimeRoot(world.context);
  ASSERT_TRUE(mended.ok());
  EXPECT_EQ(mended.value(), world.root);
  EXPECT_EQ(readFile(world.root / "web_lite3/index.html"), "fixed");
  EXPECT_TRUE(runtime::isRuntimeRoot(world.fileSystem, world.root));
}

}  // namespace
