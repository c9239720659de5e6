#include "backend/backend_result.h"

#include <nlohmann/json.hpp>

namespace backend {
namespace {

using nlohmann::json;

platform::Error corrupted(const std::string& why) {
  return platform::Error(kDecodingErrorDomain, kDataCorruptedCode, "无法读取后端输出：" + why);
}

// Reads the members in field order; the first one that is missing, null or of the wrong type ends decoding.
class MemberReader {
 public:
  explicit MemberReader(const json& object) : object_(object) {}

  bool readBool(const char* name, bool& into) { return read(name, into, "布尔值（true 或 false）"); }
  bool readText(const char* name, std::string& into) { return read(name, into, "字符串"); }
  const std::optional<platform::Error>& error() const { return error_; }

 private:
  template <class T>
  bool read(const char* name, T& into, const char* expected) {
    if (error_) return false;
    auto member = object_.find(name);
    if (member == object_.end()) {
      error_ = platform::Error(kDecodingErrorDomain, kValueNotFoundCode,
                               std::string("无法读取后端输出：缺少成员“") + name + "”。");
      return false;
    }
    bool fits;
    if constexpr (std::is_same_v<T, bool>) {
      fits = member->is_boolean();
    } else {
      fits = member->is_string();
    }
    if (!fits) {
      std::string actual = member->is_null() ? "为 null" : "类型不符";
      error_ = corrupted(std::string("成员“") + name + "”" + actual + "，应为" + expected + "。");
      return false;
    }
    into = member->template get<T>();
    return true;
  }

  const json& object_;
  std::optional<platform::Error> error_;
};

}  // namespace

platform::Result<BackendResult> decodeBackendResult(std::string_view output) {
  // JSON has no place for a raw NUL, inside a string or out; the parser would take it for the end of the text.
  if (size_t nul = output.find('\0'); nul != std::string_view::npos) {
    return corrupted("第 " + std::to_string(nul + 1) + " 个字节处不是有效的 JSON。");
  }
  json document;
  try {
    document = json::parse(output.begin(), output.end());
  } catch (const json::parse_error& error) {
    if (output.find_first_not_of(" \t\r\n") == std::string_view::npos) {
      return corrupted("输出为空，不是有效的 JSON。");
    }
    return corrupted("第 " + std::to_string(error.byte) + " 个字节处不是有效的 JSON。");
  } catch (const json::exception&) {
    return corrupted("输出不是有效的 JSON。");
  }
  if (!document.is_object()) return corrupted("顶层值不是 JSON 对象。");

  BackendResult result;
  MemberReader reader(document);
  reader.readBool("ok", result.ok);
  reader.readText("code", result.code);
  reader.readText("status_text", result.status_text);
  reader.readText("detail_text", result.detail_text);
  reader.readBool("show_install", result.show_install);
  reader.readBool("enable_launch", result.enable_launch);
  reader.readText("target_url", result.target_url);
  if (reader.error()) return *reader.error();
  return result;
}

}  // namespace backend
