#include "app/version_text.h"

#include "platform/system/text.h"

namespace app {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the match of ^v?\d+(?:\.\d+){1,2} at the start of `text`, or 0 when there is none. Each group is
// taken only when a digit follows its full stop, so "1.4." matches "1.4".
size_t versionPrefixLength(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && text[i] == 'v') ++i;
  size_t digitsStart = i;
  while (i < text.size() && isDigit(text[i])) ++i;
  if (i == digitsStart) return 0;
  int groups = 0;
  while (groups < 2 && i + 1 < text.size() && text[i] == '.' && isDigit(text[i + 1])) {
    i += 2;
    while (i < text.size() && isDigit(text[i])) ++i;
    ++groups;
  }
  return groups >= 1 ? i : 0;
}

}  // namespace

std::string displayLauncherVersion(std::string_view text) {
  std::string trimmed = platform::trimWhitespaceAndNewlines(text);
  if (trimmed.empty()) return "dev";
  size_t length = versionPrefixLength(trimmed);
  return length > 0 ? trimmed.substr(0, length) : trimmed;
}

std::string launcherVersionTextFor(const platform::InfoValue& value) {
  if (value.kind != platform::InfoValue::Kind::text) return "dev";
  std::string trimmed = platform::trimWhitespaceAndNewlines(value.text);
  if (trimmed.empty()) return "dev";
  return displayLauncherVersion(trimmed);
}

}  // namespace app
