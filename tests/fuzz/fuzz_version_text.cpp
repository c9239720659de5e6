// Arbitrary Info.plist values and whole property lists: the version text is never empty, is a prefix of the
// trimmed value (or "dev"), and reading the property list never crashes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/version_text.h"
#include "platform/qt/plist.h"
#include "platform/system/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string value(reinterpret_cast<const char*>(data), size);
  std::string text = platform::decodeUtf8(value);
  std::string shown = app::launcherVersionTextFor({platform::InfoValue::Kind::text, text});
  std::string trimmed = platform::trimWhitespaceAndNewlines(text);
  if (shown.empty()) std::abort();
  if (trimmed.empty() ? shown != "dev" : trimmed.rfind(shown, 0) != 0) std::abort();

  // The same bytes as a value inside a property list, and as a whole property list.
  std::string escaped;
  for (char c : text) escaped += c == '<' ? "&lt;" : c == '&' ? "&amp;" : std::string(1, c);
  std::string plist = "<plist><dict><key>" + std::string(app::kReleaseVersionKey) + "</key><string>" + escaped +
                      "</string></dict></plist>";
  platform::InfoValue read = platform::infoDictionaryValue(plist, app::kReleaseVersionKey);
  (void)app::launcherVersionTextFor(read);
  (void)platform::infoDictionaryValue(value, app::kReleaseVersionKey);
  return 0;
}
