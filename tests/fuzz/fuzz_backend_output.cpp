// Arbitrary standard output and standard error bytes: decoding never crashes, and the failure text is
// well-formed UTF-8, never empty, and carries no white space at its ends.
// Input: the first byte tells how many of the following bytes are standard output (in 256ths of them); the rest
// is standard error. Both may hold any byte, NUL included.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "backend/backend_invoke.h"
#include "platform/system/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t split = input.size() * (static_cast<size_t>(data[0]) + 1) / 256;
  std::string_view output = input.substr(0, split);
  std::string_view error = input.substr(split);

  platform::Result<backend::BackendResult> decoded = backend::decodeBackendResult(output);
  // A valid object is the whole output: nothing, not even a NUL, after it.
  if (decoded) {
    if (output.find('\0') != std::string_view::npos) std::abort();
    return 0;
  }
  std::string text = backend::failureText(output, error, decoded.error());
  if (text.empty()) std::abort();
  if (platform::decodeUtf8(text) != text) std::abort();
  if (platform::trimWhitespaceAndNewlines(text) != text) std::abort();
  return 0;
}
