#include <gtest/gtest.h>

#include "backend/python_probe.h"
#include "support/temp_dir.h"

namespace {

using backend::BundledPythonStatus;
using Kind = BundledPythonStatus::Kind;
using testing_support::TempDir;
using testing_support::writeFile;

TEST(BundledPythonStatus, PicksTheEarliestExecutableOverEarlierNonExecutableOnes) {
  // Even the superuser may execute a file only when some execute bit is set, so 0644 tells the cases apart.
  struct Row {
    const char* name;
    std::vector<std::pair<const char*, unsigned>> files;  // candidate name and mode; 0 means a dangling link
    Kind kind;
    const char* chosen;
  };
  const Row rows[] = {
      {"3.11 not executable, python3 is", {{"python3.11", 0644}, {"python3", 0755}}, Kind::executable, "python3"},
      {"only python is", {{"python3.11", 0644}, {"python3", 0644}, {"python", 0755}}, Kind::executable, "python"},
      {"two not executable", {{"python3.11", 0644}, {"python3", 0644}}, Kind::existsButNotExecutable, "python3.11"},
      {"dangling 3.11", {{"python3.11", 0}}, Kind::missing, "python3.11"},
  };
  platform::PosixFileSystem fs;
  for (const Row& row : rows) {
    TempDir root;
    for (auto [name, mode] : row.files) {
      if (mode == 0) {
        std::filesystem::create_directories(root / "python" / "bin");
        std::filesystem::create_symlink("gone", root / "python" / "bin" / name);
      } else {
        writeFile(root / "python" / "bin" / name, "#!/bin/sh\n", mode);
      }
    }
    BundledPythonStatus status = backend::bundledPythonStatus(fs, root.path());
    EXPECT_EQ(status.kind, row.kind) << row.name;
    EXPECT_EQ(status.location, root / "python/bin" / row.chosen) << row.name;
  }
}

}  // namespace
