#include <gtest/gtest.h>

#include "platform/text.h"

namespace {

TEST(DecodeUtf8, ReplacesEachMaximalIllFormedSubsequence) {
  struct Row {
    const char* name;
    std::string bytes;
    std::string text;
  };
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const Row rows[] = {
      {"ascii", "plain", "plain"},
      {"valid multi-byte", "岚栖 \xF0\x9F\x98\x80", "岚栖 \xF0\x9F\x98\x80"},
      {"lone continuation", "a\x80z", "a" + r + "z"},
      {"truncated three-byte", "a\xE5\xB2z", "a" + r + "z"},
      {"truncated four-byte at end", "a\xF0\x9F\x98", "a" + r},
      {"overlong two-byte lead", "\xC0\xAF", r + r},
      {"surrogate", "\xED\xA0\x80", r + r + r},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
      {"invalid lead bytes", "\xFE\xFF", r + r},
      {"lead then ascii", "\xC3\x28", r + "("},
      {"E0 needs A0..BF", "\xE0\x80\x80", r + r + r},
  };
  for (const Row& row : rows) EXPECT_EQ(platform::decodeUtf8(row.bytes), row.text) << row.name;
}

TEST(Trim, RemovesThePlatformWhitespaceAndNewlineSetAtBothEndsOnly) {
  EXPECT_EQ(platform::trimWhitespaceAndNewlines(" \t\n\r\v\f a \n b \n"), "a \n b");
  EXPECT_EQ(platform::trimWhitespaceAndNewlines("\u3000岚栖\u3000"), "岚栖");
  EXPECT_EQ(platform::trimWhitespaceAndNewlines("\u00A0\u1680\u2000\u200A\u202F\u205F\u2028\u2029\u0085x\u2003"), "x");
  // Zero-width space and BOM are not white space here.
  EXPECT_EQ(platform::trimWhitespaceAndNewlines("\u200Bx\uFEFF"), "\u200Bx\uFEFF");
  EXPECT_EQ(platform::trimWhitespaceAndNewlines(" \n\u3000 "), "");
  EXPECT_TRUE(platform::isBlank(" \n\u3000\t"));
  EXPECT_FALSE(platform::isBlank(" . "));
}

TEST(ToLower, MapsUnicodeLetters) {
  EXPECT_EQ(platform::toLower(" X86_64 "), " x86_64 ");
  EXPECT_EQ(platform::toLower("ÄÖÜ ΣΑ Ж 岚"), "äöü σα ж 岚");
}

}  // namespace
