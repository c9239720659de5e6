#include "platform/system/text.h"

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Reads one code point of well-formed UTF-8 starting at `i`, advancing it.
char32_t nextCodePoint(std::string_view text, size_t& i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
  char32_t c = extra == 0 ? lead : extra == 1 ? (lead & 0x1F) : extra == 2 ? (lead & 0x0F) : (lead & 0x07);
  ++i;
  for (int k = 0; k < extra && i < text.size(); ++k, ++i) c = (c << 6) | (byte(i) & 0x3F);
  return c;
}

}  // namespace

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string decodeUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  const size_t n = bytes.size();
  auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  while (i < n) {
    unsigned char lead = at(i);
    if (lead < 0x80) {
      // Runs of ASCII are the common case: copy them in one go.
      size_t start = i;
      while (i < n && at(i) < 0x80) ++i;
      out.append(bytes.substr(start, i - start));
      continue;
    }
    int need;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      need = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      need = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      appendUtf8(out, kReplacement);  // a byte that never starts a sequence
      ++i;
      continue;
    }
    size_t j = i + 1;
    int got = 0;
    while (got < need && j < n) {
      unsigned char b = at(j);
      bool fits = got == 0 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
      if (!fits) break;
      ++j;
      ++got;
    }
    if (got == need) {
      out.append(bytes.substr(i, j - i));
    } else {
      appendUtf8(out, kReplacement);  // the maximal subpart i..j is one replacement
    }
    i = j;
  }
  return out;
}

bool isWhitespaceOrNewline(char32_t c) {
  switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

std::string trimWhitespaceAndNewlines(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    size_t next = begin;
    if (!isWhitespaceOrNewline(nextCodePoint(text, next))) break;
    begin = next;
  }
  size_t end = text.size();
  while (end > begin) {
    size_t start = end - 1;
    while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    size_t probe = start;
    if (!isWhitespaceOrNewline(nextCodePoint(text, probe))) break;
    end = start;
  }
  return std::string(text.substr(begin, end - begin));
}

bool isBlank(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    if (!isWhitespaceOrNewline(nextCodePoint(text, i))) return false;
  }
  return true;
}

}  // namespace platform
