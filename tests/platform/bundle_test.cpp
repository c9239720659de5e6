#include <gtest/gtest.h>

#include "platform/bundle.h"
#include "support/temp_dir.h"

namespace {

using platform::InfoValue;
using testing_support::TempDir;
using testing_support::writeFile;

TEST(Bundle, LayoutInsideAndOutsideAnAppFolder) {
  platform::Bundle inside = platform::bundleForExecutable("/Apps/Lanqi Launcher.app/Contents/MacOS/LanqiLauncher");
  EXPECT_EQ(inside.resourceDirectory, platform::Path("/Apps/Lanqi Launcher.app/Contents/Resources"));
  EXPECT_EQ(inside.infoDictionaryFile, platform::Path("/Apps/Lanqi Launcher.app/Contents/Info.plist"));

  platform::Bundle outside = platform::bundleForExecutable("/opt/launcher/bin/LanqiLauncher");
  EXPECT_EQ(outside.resourceDirectory, platform::Path("/opt/launcher/bin"));
  EXPECT_FALSE(outside.infoDictionaryFile);
}

TEST(Bundle, ReadsTopLevelValuesOfAnXmlPropertyList) {
  TempDir dir;
  writeFile(dir / "Info.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>Nested</key><dict><key>Version</key><string>9.9.9</string></dict>"
            "<key>Version</key><string> v1.4.2 &amp; more </string><key>Build</key><integer>7</integer>"
            "<key>Empty</key><string/></dict></plist>");

  InfoValue version = platform::readInfoDictionaryValue(dir / "Info.plist", "Version");
  EXPECT_EQ(version.kind, InfoValue::Kind::text);
  EXPECT_EQ(version.text, " v1.4.2 & more ");
  EXPECT_EQ(platform::readInfoDictionaryValue(dir / "Info.plist", "Build").kind, InfoValue::Kind::other);
  EXPECT_EQ(platform::readInfoDictionaryValue(dir / "Info.plist", "Empty").text, "");
  EXPECT_EQ(platform::readInfoDictionaryValue(dir / "Info.plist", "version").kind, InfoValue::Kind::absent);
  EXPECT_EQ(platform::readInfoDictionaryValue(dir / "missing.plist", "Version").kind, InfoValue::Kind::absent);

  writeFile(dir / "broken.plist", "<plist><dict><key>Version</key><string>1.0</string></dict>");
  EXPECT_EQ(platform::readInfoDictionaryValue(dir / "broken.plist", "Version").kind, InfoValue::Kind::absent);
}

}  // namespace
