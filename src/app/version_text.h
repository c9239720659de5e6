// The launcher's version as the window shows it.
#pragma once

#include <string>
#include <string_view>

#include "platform/system/bundle.h"

namespace app {

// The information-dictionary key that holds the release version.
inline constexpr const char* kReleaseVersionKey = "DuredazArodaziDudoved";

// Shortens a release version to its leading version number: after trimming, the longest match at the start of
// `v?digits(.digits){1,2}` ("1.4.2-beta.3" gives "1.4.2", "v2.0.10 build 7" gives "v2.0.10"); a text without
// such a start is returned whole (trimmed); a blank text gives "dev". Pure.
std::string displayLauncherVersion(std::string_view text);

// The version text for the value of the release-version key: "dev" when it is absent, not a text or blank,
// else `displayLauncherVersion` of it.
std::string launcherVersionTextFor(const platform::InfoValue& value);

}  // namespace app
