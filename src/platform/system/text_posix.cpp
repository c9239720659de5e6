#include <locale.h>
#include <wctype.h>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

#include "platform/system/text.h"

namespace platform {
namespace {

locale_t unicodeLocale() {
  static const locale_t locale = [] {
    for (const char* name : {"C.UTF-8", "en_US.UTF-8", "C.utf8"}) {
      if (locale_t made = ::newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0))) return made;
    }
    return static_cast<locale_t>(0);
  }();
  return locale;
}

}  // namespace

std::string toLower(std::string_view text) {
  locale_t locale = unicodeLocale();
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead >= 'A' && lead <= 'Z' ? lead + ('a' - 'A') : lead);
      ++i;
      continue;
    }
    int extra = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    char32_t c = extra == 1 ? (lead & 0x1F) : extra == 2 ? (lead & 0x0F) : (lead & 0x07);
    ++i;
    for (int k = 0; k < extra && i < text.size(); ++k, ++i) c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    if (locale) c = static_cast<char32_t>(::towlower_l(static_cast<wint_t>(c), locale));
    appendUtf8(out, c);
  }
  return out;
}

}  // namespace platform
