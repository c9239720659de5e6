// The record that the backend script reports about one action, and its decoding from the script's output.
#pragma once

#include <string>
#include <string_view>

#include "platform/system/error.h"

namespace backend {

// What one backend run reported. Made only by `decodeBackendResult`; a plain value, never changed afterwards.
struct BackendResult {
  bool ok = false;             // the action succeeded
  std::string code;            // short outcome code; the launcher recognises "installed"
  std::string status_text;     // the status line to show
  std::string detail_text;     // the detail text to show under it
  bool show_install = false;   // the install button is to be shown
  bool enable_launch = false;  // the launch button is to be enabled
  std::string target_url;      // must be present; nothing in the launcher reads it

  friend bool operator==(const BackendResult&, const BackendResult&) = default;
};

// Domain and codes of decoding errors.
inline constexpr const char* kDecodingErrorDomain = "NSCocoaErrorDomain";
inline constexpr int kDataCorruptedCode = 4864;  // not JSON, not an object, a member of the wrong type or null
inline constexpr int kValueNotFoundCode = 4865;  // a member is missing

// Decodes the script's whole standard output, exactly as it came. It must be one strict RFC 8259 JSON text,
// optionally surrounded by JSON white space, whose top-level value is an object with the seven members named as
// in `BackendResult` (case-sensitive): `true`/`false` for the three booleans, strings (not null) for the four
// texts. Other members are ignored. Any other text makes the output undecodable. Pure and thread-safe.
platform::Result<BackendResult> decodeBackendResult(std::string_view output);

}  // namespace backend
