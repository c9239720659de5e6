// Reading and writing the launcher's line-based texts (the sync's record, the payload manifest): numbers,
// paths with their few escapes, digests, one line at a time. Nothing here allocates but the strings it returns
// and the texts it keeps.
#pragma once

#include <array>
#include <charconv>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace runtime::text {

// Paths may hold any byte but NUL: the line feed, the tab and the backslash are written as escapes.
inline void appendEscaped(std::string& out, std::string_view text) {
  if (text.find_first_of("\\\n\t") == std::string_view::npos) {  // nearly every path: as it is
    out.append(text);
    return;
  }
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
}

inline std::optional<std::string> unescaped(std::string_view text) {
  if (text.find('\\') == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\':
        out += '\\';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

template <class T>
void appendNumber(std::string& out, T value, char separator) {
  char digits[24];
  auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  (void)error;  // 24 characters hold every 64-bit number
  out.append(digits, end);
  if (separator != '\0') out += separator;
}

// Reads the next line of `text` from `at` (without its line feed); none when no line feed ends it.
inline std::optional<std::string_view> nextLine(std::string_view text, size_t& at) {
  size_t end = text.find('\n', at);
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view line = text.substr(at, end - at);
  at = end + 1;
  return line;
}

template <class T>
inline bool readNumber(std::string_view& text, T& value, char separator) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return false;
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  if (separator == '\0') return true;
  if (text.empty() || text.front() != separator) return false;
  text.remove_prefix(1);
  return true;
}

// A content digest (128 bits) as its 32 hexadecimal digits.
using Digest = std::array<char, 32>;

// Reads a digest, or "-" for none, then `separator` (none when it is NUL). False when neither stands there.
inline bool readDigest(std::string_view& text, std::optional<Digest>& digest, char separator) {
  size_t length = 0;
  if (text.starts_with('-')) {
    digest.reset();
    length = 1;
  } else {
    Digest value;
    if (text.size() < value.size()) return false;
    for (size_t i = 0; i < value.size(); ++i) {
      const char c = text[i];
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
      value[i] = c;
    }
    digest = value;
    length = value.size();
  }
  text.remove_prefix(length);
  if (separator == '\0') return true;
  if (text.empty() || text.front() != separator) return false;
  text.remove_prefix(1);
  return true;
}

inline void appendDigest(std::string& out, const std::optional<Digest>& digest) {
  if (digest) {
    out.append(digest->data(), digest->size());
  } else {
    out += '-';
  }
}

// Texts that views of them may point into for as long as any copy of the owner lives: each one is kept once, never
// moves, and is shared by every copy. A decoded record or manifest keeps the text it was read from here, so that
// its tens of thousands of paths are views of that text rather than strings of their own.
class SharedTexts {
 public:
  std::string_view keep(std::string text) {
    auto kept = std::make_shared<const std::string>(std::move(text));
    return keep(kept, *kept);
  }
  // A text of another owner (a mapped file's): `text` stays valid for as long as `owner` lives.
  std::string_view keep(std::shared_ptr<const void> owner, std::string_view text) {
    texts_.push_back(std::move(owner));
    return text;
  }

 private:
  std::vector<std::shared_ptr<const void>> texts_;
};

}  // namespace runtime::text
