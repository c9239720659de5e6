// What every GoogleTest file of the launcher's starts from: the framework, the system calls the tests make to set
// up a world, and the temporary folders with their helpers, by their short names.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
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
    if (mounted) (void)std::system(("umount '" + where + "'").c_str());
  }
  std::string where;
  bool mounted = false;
};
