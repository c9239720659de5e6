#include "runtime/payload.h"

namespace testing_support {

void writePayloads(const platform::Path& resources, const std::string& marker) {
  platform::Path common = resources / "runtime" / "common";
  writeFile(common / "README.md", "readme " + marker);
  writeFile(common / "requirements.txt", "sample==1.0 # " + marker);
  writeFile(common / "scripts" / "launcher_backend.py", "print('backend " + marker + "')");
  writeFile(common / "web_lite3" / "index.html", "<html>" + marker + "</html>");
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
}

platform::Path writeFakeUname(const platform::Path& folder, const std::string& output, int status) {
  static int counter = 0;
  platform::Path tool = folder / ("uname-" + std::to_string(++counter));
  writeScript(tool, "printf '" + output + "'\nexit " + std::to_string(status));
  return tool;
}

}  // namespace testing_support
