#include "runtime/runtime_error.h"

namespace runtime {

platform::Error runtimeError(RuntimeErrorCode code) {
  const char* message = "";
  switch (code) {
    case RuntimeErrorCode::noResources:
      message = "应用内未发现可用运行时资源。";
      break;
    case RuntimeErrorCode::noMatchingPayload:
      message = "应用内未发现匹配当前架构的 runtime payload。";
      break;
    case RuntimeErrorCode::noApplicationSupport:
      message = "无法定位 Application Support 目录。";
      break;
    case RuntimeErrorCode::unknownArchitecture:
      message = "无法识别当前 macOS 架构。";
      break;
    case RuntimeErrorCode::incompleteRuntime:
      message = "同步后的 runtime 目录不完整。";
      break;
  }
  return platform::Error(kRuntimeErrorDomain, static_cast<int>(code), message);
}

}  // namespace runtime
