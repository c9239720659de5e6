#include <gtest/gtest.h>

#include "backend/backend_result.h"

namespace {

const std::string kValid =
    R"({"ok":true,"code":"installed","status_text":"环境已安装","detail_text":"","show_install":false,)"
    R"("enable_launch":true,"target_url":"http://127.0.0.1:8188"})";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

TEST(DecodeBackendResult, ReadsAllSevenMembers) {
  auto decoded = backend::decodeBackendResult(kValid);
  ASSERT_TRUE(decoded.ok()) << decoded.error().localizedDescription();
  backend::BackendResult expected{true, "installed", "环境已安装", "", false, true, "http://127.0.0.1:8188"};
  EXPECT_EQ(decoded.value(), expected);

  auto escaped = backend::decodeBackendResult(
      R"( {"target_url":"","enable_launch":false,"show_install":true,"detail_text":"\u5c9a\n\"q\"",)"
      R"("status_text":"","code":"","ok":false,"extra":{"x":[1,2,null]}} )"
      "\n");
  ASSERT_TRUE(escaped.ok());
  EXPECT_EQ(escaped.value().detail_text, "岚\n\"q\"");
  EXPECT_TRUE(escaped.value().show_install);
}

TEST(DecodeBackendResult, RejectsWhatTheContractForbids) {
  struct Row {
    const char* name;
    std::string output;
    int code;
    std::string description;
  };
  const Row rows[] = {
      {"empty", "", backend::kDataCorruptedCode, "无法读取后端输出：输出为空，不是有效的 JSON。"},
      {"second object", kValid + kValid, backend::kDataCorruptedCode, ""},
      {"array", "[" + kValid + "]", backend::kDataCorruptedCode, "无法读取后端输出：顶层值不是 JSON 对象。"},
      {"ok as number", replaced(kValid, "\"ok\":true", "\"ok\":1"), backend::kDataCorruptedCode,
       "无法读取后端输出：成员“ok”类型不符，应为布尔值（true 或 false）。"},
      {"null url", replaced(kValid, "\"http://127.0.0.1:8188\"", "null"), backend::kDataCorruptedCode,
       "无法读取后端输出：成员“target_url”为 null，应为字符串。"},
      {"missing url", replaced(kValid, ",\"target_url\":\"http://127.0.0.1:8188\"", ""), backend::kValueNotFoundCode,
       "无法读取后端输出：缺少成员“target_url”。"},
      {"name case differs", replaced(kValid, "\"status_text\"", "\"Status_text\""), backend::kValueNotFoundCode,
       "无法读取后端输出：缺少成员“status_text”。"},
      {"invalid UTF-8 in a string", replaced(kValid, "环境已安装", "\xC3\x28"), backend::kDataCorruptedCode, ""},
      {"NUL after the object", kValid + std::string("\0{}", 3), backend::kDataCorruptedCode,
       "无法读取后端输出：第 " + std::to_string(kValid.size() + 1) + " 个字节处不是有效的 JSON。"},
      {"NUL between members", replaced(kValid, ",\"code\"", std::string("\0,\"code\"", 8)), backend::kDataCorruptedCode,
       ""},
      {"NUL inside a string", replaced(kValid, "环境已安装", std::string("a\0b", 3)), backend::kDataCorruptedCode, ""},
  };
  for (const Row& row : rows) {
    auto decoded = backend::decodeBackendResult(row.output);
    ASSERT_FALSE(decoded.ok()) << row.name;
    EXPECT_EQ(decoded.error().domain(), backend::kDecodingErrorDomain) << row.name;
    EXPECT_EQ(decoded.error().code(), row.code) << row.name;
    if (!row.description.empty()) {
      EXPECT_EQ(decoded.error().localizedDescription(), row.description) << row.name;
    }
    EXPECT_FALSE(decoded.error().localizedDescription().empty()) << row.name;
  }
}

}  // namespace
