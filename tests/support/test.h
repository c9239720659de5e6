// What every GoogleTest file of the launcher's starts from: the framework, the system calls the tests make to set
// up a world, and the temporary folders with their helpers, by their short names.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "support/temp_dir.h"

using platform::Path;
using testing_support::modeOf;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::touch;
using testing_support::writeFile;
using testing_support::writeScript;

// A file system mounted at `where` (made when missing) for as long as this lives; needs root.
struct Mount {
  Mount(const std::string& how, const platform::Path& where) : where(where.string()) {
    std::filesystem::create_directories(where);
    mounted = ::geteuid() == 0 && std::system(("mount " + how + " '" + this->where + "'").c_str()) == 0;
  }
  ~Mount() {
    if (!mounted || ::umount2(where.c_str(), MNT_DETACH) == 0) return;
    // Moved away by a faulty sync: whatever is mounted below the test's own folder goes instead.
    const size_t test = where.find("/launcher-test-");
    if (test == std::string::npos) return;
    const std::string folder = where.substr(0, where.find('/', test + 1)) + "/";
    std::ifstream mounts("/proc/self/mounts");
    for (std::string device, point, rest; mounts >> device >> point && std::getline(mounts, rest);) {
      for (size_t at = point.find('\\'); at != std::string::npos && at + 3 < point.size();
           at = point.find('\\', at + 1))
        point.replace(at, 4, 1, static_cast<char>(std::stoi(point.substr(at + 1, 3), nullptr, 8)));
      if (point.starts_with(folder)) (void)::umount2(point.c_str(), MNT_DETACH);
    }
  }
  std::string where;
  bool mounted = false;
};
