#include <gtest/gtest.h>

#include "platform/text.h"

namespace {

// Rows: valid text; a lone continuation byte; a truncated three-byte sequence; a truncated four-byte one at the end;
// an overlong lead; E0 followed by less than A0; a surrogate; beyond U+10FFFF.
TEST(DecodeUtf8, ReplacesEachMaximalIllFormedSubsequence) {
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const std::pair<std::string, std::string> rows[] = {
      {"岚栖 \xF0\x9F\x98\x80", "岚栖 \xF0\x9F\x98\x80"},
      {"a\x80z", "a" + r + "z"},
      {"a\xE5\xB2z", "a" + r + "z"},
      {"a\xF0\x9F\x98", "a" + r},
      {"\xC0\xAF", r + r},
      {"\xE0\x80\x80", r + r + r},
      {"\xED\xA0\x80", r + r + r},
      {"\xF4\x90\x80\x80", r + r + r + r},
  };
  for (const auto& [bytes, text] : rows) EXPECT_EQ(platform::decodeUtf8(bytes), text) << bytes;
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

}  // namespace
