#include <gtest/gtest.h>

#include "app/version_text.h"

namespace {

using platform::InfoValue;

TEST(VersionText, ShortensTheReleaseVersionAsTheWindowShowsIt) {
  EXPECT_EQ(app::launcherVersionTextFor({}), "dev");
  EXPECT_EQ(app::launcherVersionTextFor({InfoValue::Kind::other, ""}), "dev");
  const std::pair<const char*, const char*> rows[] = {
      {"  \n \t", "dev"},
      {"1.4.2", "1.4.2"},
      {"1.4.2-beta.3", "1.4.2"},
      {"v2.0.10 build 7", "v2.0.10"},
      {"1.4.2.7", "1.4.2"},
      {"1.4.", "1.4"},
      {"build 1.4.2", "build 1.4.2"},
      {"\u30001.4.2\u3000", "1.4.2"},
      {"v.1.2", "v.1.2"},
      {"12 build 3", "12 build 3"},
      {"2024-05-01", "2024-05-01"},
  };
  for (auto [value, shown] : rows)
    EXPECT_EQ(app::launcherVersionTextFor({InfoValue::Kind::text, value}), shown) << value;
  EXPECT_EQ(app::displayLauncherVersion("  "), "dev");
  EXPECT_EQ(app::displayLauncherVersion("10.20"), "10.20");
}

}  // namespace
