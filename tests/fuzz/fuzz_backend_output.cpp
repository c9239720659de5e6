// Arbitrary standard output and standard error bytes: decoding never crashes, and the failure text is
// well-formed UTF-8, never empty, and carries no white space at its ends.
// Input: standard output, a zero byte, standard error (without a zero byte, all of it is standard output).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "backend/backend_invoke.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  std::string_view output = input.substr(0, split);
  std::string_view error = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

  platform::Result<backend::BackendResult> decoded = backend::decodeBackendResult(output);
  if (decoded) return 0;
  std::string text = backend::failureText(output, error, decoded.error());
  if (text.empty()) std::abort();
  if (platform::decodeUtf8(text) != text) std::abort();
  if (platform::trimWhitespaceAndNewlines(text) != text) std::abort();
  return 0;
}
