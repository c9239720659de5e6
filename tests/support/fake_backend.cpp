// A stand-in for the Python interpreter in tests. Run as `fake_backend <mode> <action>`, the way the launcher
// runs `python <script> <action>`: the script path chooses what it prints, so invocation is tested without
// depending on Python.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

const char* kValid =
    R"({"ok": true, "code": "ready", "status_text": "环境正常", "detail_text": "", "show_install": false,)"
    R"( "enable_launch": true, "target_url": ""})";

void writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put <= 0) return;
    done += static_cast<size_t>(put);
  }
}

}  // namespace

// What standard input is ("device:inode", or "closed") and which descriptors are open, as "0,1,2".
std::string descriptorReport() {
  struct stat st;
  std::string report = ::fstat(0, &st) == 0 ? std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) : "closed";
  report += "|";
  DIR* dir = ::opendir("/proc/self/fd");
  std::string open;
  while (dirent* entry = dir ? ::readdir(dir) : nullptr) {
    if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == ::dirfd(dir)) continue;
    if (!open.empty()) open += ',';
    open += entry->d_name;
  }
  if (dir) ::closedir(dir);
  return report + open;
}

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  std::string action = argc > 2 ? argv[2] : "";
  // The launcher passes the script's path: an existing file holds the mode, else the path's last component is it.
  if (std::ifstream script(mode); script && (script >> mode)) {
  } else if (auto slash = mode.rfind('/'); slash != std::string::npos) {
    mode = mode.substr(slash + 1);
  }

  if (mode == "descriptors") {
    writeAll(1, descriptorReport());
    return 0;
  }
  if (mode == "valid") {
    writeAll(1, std::string(kValid) + "\n");
    return 0;
  }
  if (mode == "valid-exit1") {
    writeAll(1, std::string(kValid) + "\n");
    writeAll(2, "warning on stderr\n");
    return 1;
  }
  if (mode == "echo-action") {
    writeAll(1, R"({"ok": true, "code": "", "status_text": ")" + action +
                    R"(", "detail_text": "", "show_install": false, "enable_launch": false, "target_url": ""})");
    return 0;
  }
  if (mode == "log-then-valid") {
    writeAll(1, "starting up\n" + std::string(kValid) + "\n");
    writeAll(2, "  some diagnostics  \n");
    return 0;
  }
  if (mode == "missing-target-url") {
    writeAll(1, R"({"ok": true, "code": "", "status_text": "", "detail_text": "", "show_install": false,)"
                R"( "enable_launch": false})"
                "\n");
    return 0;
  }
  if (mode == "traceback") {
    writeAll(2, "\nTraceback (most recent call last):\n  File \"x.py\", line 1\nValueError: boom\n\n");
    return 1;
  }
  if (mode == "nothing") return 0;
  if (mode == "whitespace") {
    writeAll(1, " \n\t ");
    writeAll(2, "\n\u3000\n");
    return 0;
  }
  if (mode == "invalid-utf8") {
    writeAll(1, std::string("bad \xC3\x28 bytes \xF0\x9F\x98 end"));
    return 0;
  }
  if (mode == "megabytes") {
    // Eight megabytes to each stream, interleaved, far more than a pipe holds.
    std::string chunk(64 * 1024, 'x');
    for (int i = 0; i < 128; ++i) {
      writeAll(1, chunk);
      writeAll(2, chunk);
    }
    return 3;
  }
  if (mode == "two-megabytes") {
    std::string chunk(64 * 1024, 'y');
    for (int i = 0; i < 32; ++i) {
      writeAll(1, chunk);
      writeAll(2, chunk);
    }
    return 0;
  }
  if (mode == "garbage") {
    writeAll(1, "{\"ok\": tru");
    writeAll(2, "half an object\n");
    return 0;
  }
  if (mode == "signal") {
    writeAll(1, "partial output");
    ::raise(SIGKILL);
  }
  if (mode == "background-holder") {
    // A server-like descendant keeps both output streams open long after this process has ended.
    pid_t child = ::fork();
    if (child == 0) {
      ::execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
      _exit(127);
    }
    if (!action.empty()) std::ofstream(action) << child;
    writeAll(1, std::string(kValid) + "\n");
    return 0;
  }
  writeAll(2, "fake_backend: unknown mode " + mode + "\n");
  return 2;
}
