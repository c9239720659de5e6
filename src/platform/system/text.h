// Text operations. Texts are UTF-8 in `std::string`; every function here returns well-formed UTF-8 when it is
// given well-formed UTF-8, and `decodeUtf8` makes any bytes well-formed. All are pure and thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Decodes bytes as UTF-8. Never fails: each maximal ill-formed subsequence becomes one U+FFFD.
std::string decodeUtf8(std::string_view bytes);

// True for the characters that trimming removes: Unicode category Zs (U+0020, U+00A0, U+1680, U+2000 to
// U+200A, U+202F, U+205F, U+3000) plus U+0009, U+000A to U+000D, U+0085, U+2028 and U+2029.
bool isWhitespaceOrNewline(char32_t c);

// Removes white space and line breaks (as above) from both ends; inner ones stay.
std::string trimWhitespaceAndNewlines(std::string_view text);

// True when nothing is left of `text` after trimming.
bool isBlank(std::string_view text);

// Lower-cases by the Unicode simple case mapping.
std::string toLower(std::string_view text);

// Appends the UTF-8 form of `c` to `out`.
void appendUtf8(std::string& out, char32_t c);

}  // namespace platform
