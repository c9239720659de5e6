// Many consecutive backend runs through the real window, as many button presses.
#pragma once

#include <string>

namespace testing_support {

struct SoakFigures {
  int runs = 0;
  int unexpected = 0;  // runs whose window state was not the one their backend called for
  int descriptorsBefore = 0, descriptorsAfter = 0;
  int threadsBefore = 0, threadsAfter = 0;
  long residentKbBefore = 0, residentKbAfter = 0;
  std::string firstUnexpected;
};

// Presses 检测环境 `runs` times against a fake backend that takes turns printing a valid result, garbage,
// megabytes of output, a valid result with a non-zero exit, and dying by a signal. Needs a QApplication.
SoakFigures runSoak(int runs);

long residentKb();

}  // namespace testing_support
