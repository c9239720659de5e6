// The errors that runtime management raises itself. File-system errors met on the way are passed on as they
// are, never wrapped in one of these.
#pragma once

#include "platform/system/error.h"

namespace runtime {

inline constexpr const char* kRuntimeErrorDomain = "VoverorEzororor";

enum class RuntimeErrorCode : int {
  noResources = 2,            // the application bundle reports no resources folder
  noMatchingPayload = 3,      // the common payload or the target's payload is missing
  noApplicationSupport = 10,  // the user's Application Support folder cannot be located
  unknownArchitecture = 11,   // no runtime target could be determined
  incompleteRuntime = 12,     // the sync succeeded but the runtime root lacks one of its seven entries
};

// The error for `code`, in the runtime domain, whose description is that code's Chinese message.
platform::Error runtimeError(RuntimeErrorCode code);

}  // namespace runtime
