#include "platform/system/error.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

[[maybe_unused]] const char* pick(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }
[[maybe_unused]] const char* pick(const char* result, const char*) { return result; }

}  // namespace

std::string describeErrno(int errnoValue) {
  switch (errnoValue) {
    case ENOENT:
      return "没有那个文件或目录";
    case EACCES:
      return "权限不够";
    case EPERM:
      return "不允许的操作";
    case EEXIST:
      return "文件已存在";
    case ENOTDIR:
      return "路径中有一项不是目录";
    case EISDIR:
      return "这是一个目录";
    case ENOTEMPTY:
      return "目录不是空的";
    case ENOSPC:
      return "磁盘空间不足";
#if defined(EDQUOT)
    case EDQUOT:
      return "超出磁盘配额";
#endif
    case EROFS:
      return "只读文件系统";
    case ELOOP:
      return "符号链接层数过多";
    case ENAMETOOLONG:
      return "文件名过长";
    case EIO:
      return "输入/输出错误";
    case EMFILE:
    case ENFILE:
      return "打开的文件过多";
    case ENOMEM:
      return "内存不足";
    case ENOEXEC:
      return "可执行文件格式错误";
    case ETXTBSY:
      return "文本文件忙";
    case EBUSY:
      return "设备或资源忙";
    case EXDEV:
      return "无效的跨设备链接";
    case ENOTSUP:
      return "不支持的操作";
    default:
      break;
  }
  // strerror_r, not strerror: errors are made on background threads too. The C library offers either the GNU
  // form (returns the text) or the POSIX one (fills the buffer); `pick` takes whichever result there is.
  std::array<char, 256> buffer{};
  const char* text = pick(::strerror_r(errnoValue, buffer.data(), buffer.size()), buffer.data());
  return text && *text ? std::string(text) : "未知错误";
}

Error posixError(int errnoValue, const std::string& what) {
  return Error(kPosixErrorDomain, errnoValue,
               what + "：" + describeErrno(errnoValue) + "（错误码 " + std::to_string(errnoValue) + "）");
}

}  // namespace platform
