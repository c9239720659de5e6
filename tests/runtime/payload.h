// A bundle resources folder with an embedded runtime, and a fake `uname`, for runtime tests.
#pragma once

#include <string>

#include "runtime/runtime_layout.h"
#include "support/faulty_file_system.h"
#include "support/temp_dir.h"

namespace testing_support {

// Writes "runtime/common" and "runtime/<target>" payloads under `resources`, with a marker text in each file so
// that a test can tell which copy it sees, and their manifest, as a build does.
void writePayloads(const platform::Path& resources, const std::string& marker = "v1");

// Writes the payload manifest of `resources` as it now stands, in the format of tools/payload-manifest, with a
// stand-in digest.
void writeManifest(const platform::Path& resources);

// Writes a fake uname that prints `output` (printf format) and exits with `status`.
platform::Path writeFakeUname(const platform::Path& folder, const std::string& output, int status = 0);

// A temporary world: resources, Application Support and an Arm `uname`.
struct RuntimeWorld {
  TempDir dir;
  FaultyFileSystem fileSystem;  // the real file layer, until a test makes it fail
  platform::Path resources = dir / "Launcher.app/Contents/Resources";
  platform::Path support = dir / "Application Support";
  platform::Path root = support / "Zovavir Ever Odaravuz" / "runtime";
  runtime::RuntimeContext context{fileSystem, resources, support, writeFakeUname(dir.path(), "arm64\\n")};
  RuntimeWorld() { writePayloads(resources); }
};

}  // namespace testing_support
