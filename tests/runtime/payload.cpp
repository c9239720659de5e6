#include "runtime/payload.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace testing_support {

void writePayloads(const platform::Path& resources, const std::string& marker) {
  platform::Path common = resources / "runtime" / "common";
  writeFile(common / "README.md", "readme " + marker);
  writeFile(common / "requirements.txt", "sample==1.0 # " + marker);
  writeFile(common / "scripts" / "launcher_backend.py", "print('backend " + marker + "')");
  writeFile(common / "web_lite3" / "index.html", "<html>" + marker + "</html>");
  writeFile(common / "web_lite3" / "odd\tname\nwith\\.js", marker);  // the record and the manifest escape it
  writeFile(common / "not-in-plan.txt", "never copied");
  for (const std::string target : {"macos-arm64", "macos-x86_64"}) {
    platform::Path payload = resources / "runtime" / target;
    writeFile(payload / "python" / "bin" / "python3.11", "#!/bin/sh\n# " + target + " " + marker + "\n", 0644);
    std::filesystem::create_symlink("python3.11", payload / "python" / "bin" / "python3");
    writeFile(payload / "python" / "lib" / "site.py", "# " + marker, 0644);
    // A package folder beside its metadata folder, whose name sorts before the folder's contents byte by byte.
    writeFile(payload / "python" / "lib" / "sample" / "__init__.py", "# " + marker, 0644);
    writeFile(payload / "python" / "lib" / "sample-1.0.dist-info" / "METADATA", marker, 0644);
    writeFile(payload / "wheelhouse" / "sample-1.0-py3-none-any.whl", marker);
    writeFile(payload / "ffmpeg" / "bin" / "ffmpeg", "#!/bin/sh\n# " + marker + "\n", 0600);
  }
  writeManifest(resources);
}

namespace {

// A stand-in for the build's content digest: 128 bits of two FNV-1a hashes, as 32 hexadecimal digits. The launcher
// only ever compares digests, never computes them.
std::string digestOf(const std::string& content) {
  std::uint64_t a = 14695981039346656037ull, b = 1099511628211ull * 31;
  for (unsigned char c : content) a = (a ^ c) * 1099511628211ull, b = (b ^ c) * 1099511628211ull + 7;
  char text[33];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(a),
                static_cast<unsigned long long>(b));
  return text;
}

}  // namespace

void writeManifest(const platform::Path& resources) {
  const platform::Path runtime = resources / "runtime";
  std::vector<std::pair<std::vector<std::string>, std::string>> lines;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(runtime)) {
    const auto status = entry.symlink_status();
    if (std::filesystem::is_directory(status)) continue;
    const std::string relative = entry.path().lexically_relative(runtime).string();
    const bool link = std::filesystem::is_symlink(status);
    struct stat st;
    ::lstat(entry.path().c_str(), &st);
    char mode[16];
    std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(st.st_mode & 07777));
    const std::string content = link ? std::filesystem::read_symlink(entry.path()).string() : readFile(entry.path());
    std::string escaped;
    for (char c : relative) escaped += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : std::string(1, c);
    std::vector<std::string> parts;
    for (const auto& part : std::filesystem::path(relative)) parts.push_back(part.string());
    lines.push_back({parts, std::string(link ? "l " : "f ") + digestOf(content) + " " + std::to_string(st.st_size) +
                                " " + mode + " " + escaped + "\n"});
  }
  std::sort(lines.begin(), lines.end());
  std::string body;
  for (const auto& line : lines) body += line.second;
  writeFile(resources / "payload-manifest", "lanqi-launcher payload manifest 1\nwhole " + digestOf(body) + "\n" +
                                                std::to_string(lines.size()) + "\n" + body + "end " +
                                                std::to_string(lines.size()) + "\n");
}

platform::Path writeFakeUname(const platform::Path& folder, const std::string& output, int status) {
  static int counter = 0;
  platform::Path tool = folder / ("uname-" + std::to_string(++counter));
  writeScript(tool, "printf '" + output + "'\nexit " + std::to_string(status));
  return tool;
}

}  // namespace testing_support
