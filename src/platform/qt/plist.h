// Reading the bundle's information dictionary, with the window system's XML reader.
#pragma once

#include <string_view>

#include "platform/system/bundle.h"

namespace platform {

// Reads the top-level `key` of the XML property list at `plistFile`. A missing or unreadable file, a file that
// is not a well-formed property list, and a missing key all give `absent`; a value that is not a string gives
// `other`. Never fails otherwise; any thread may call it.
InfoValue readInfoDictionaryValue(const Path& plistFile, std::string_view key);

// The same, from the property list's text.
InfoValue infoDictionaryValue(std::string_view plistXml, std::string_view key);

}  // namespace platform
