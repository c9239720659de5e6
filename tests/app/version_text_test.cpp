#include <gtest/gtest.h>

#include "app/version_text.h"

namespace {

using platform::InfoValue;

TEST(VersionText, ShortensTheReleaseVersionAsTheWindowShowsIt) {
  struct Row {
    InfoValue value;
    const char* shown;
  };
  auto text = [](const char* t) { return InfoValue{InfoValue::Kind::text, t}; };
  const Row rows[] = {
      {InfoValue{}, "dev"},
      {InfoValue{InfoValue::Kind::other, ""}, "dev"},
      {text(""), "dev"},
      {text("  \n \t"), "dev"},
      {text("1.4.2"), "1.4.2"},
      {text("v1.4.2"), "v1.4.2"},
      {text("1.4.2-beta.3"), "1.4.2"},
      {text("v2.0.10 build 7"), "v2.0.10"},
      {text("1.4.2.7"), "1.4.2"},
      {text("2.0"), "2.0"},
      {text("1.4."), "1.4"},
      {text("7"), "7"},
      {text("V1.4"), "V1.4"},
      {text("build 1.4.2"), "build 1.4.2"},
      {text(" \n1.4.2 \n"), "1.4.2"},
      {text("\u30001.4.2\u3000"), "1.4.2"},
      {text("v"), "v"},
      {text("v.1.2"), "v.1.2"},
      {text("12.34.56.78-rc"), "12.34.56"},
  };
  for (const Row& row : rows) EXPECT_EQ(app::launcherVersionTextFor(row.value), row.shown) << row.value.text;
  EXPECT_EQ(app::displayLauncherVersion("  "), "dev");
  EXPECT_EQ(app::displayLauncherVersion("10.20"), "10.20");
}

}  // namespace
