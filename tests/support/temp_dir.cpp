#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "launcher-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

// The file layer's removal opens up read-only folders that a test left behind.
TempDir::~TempDir() { (void)platform::PosixFileSystem().removeTree(path_); }

void writeFile(const platform::Path& path, std::string_view content, unsigned mode) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  ::chmod(path.c_str(), static_cast<mode_t>(mode));
}

std::string readFile(const platform::Path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

void writeScript(const platform::Path& path, std::string_view body) {
  writeFile(path, "#!/bin/sh\n" + std::string(body) + "\n", 0755);
}

void touch(const platform::Path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) ::close(fd);
}

int modeOf(const platform::Path& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

}  // namespace testing_support
