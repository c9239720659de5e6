// Resident memory across 2,000 consecutive backend runs through the real window (the soak test asserts on
// descriptors and threads; this prints the memory figures). Usage: soak_bench [runs]
#include <QApplication>

#include <cstdio>
#include <string>

#include "soak_runner.h"

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::stoi(argv[1]) : 2000;
  QApplication application(argc, argv);
  long start = testing_support::residentKb();
  testing_support::SoakFigures figures = testing_support::runSoak(runs);
  std::printf("runs: %d, unexpected outcomes: %d\n", figures.runs, figures.unexpected);
  std::printf(
      "resident memory: %ld KiB at start, %ld KiB after the window and 10 warm-up runs, %ld KiB after "
      "%d runs: %+ld KiB (%.2f%% of the warm figure)\n",
      start, figures.residentKbBefore, figures.residentKbAfter, figures.runs,
      figures.residentKbAfter - figures.residentKbBefore,
      100.0 * static_cast<double>(figures.residentKbAfter - figures.residentKbBefore) /
          static_cast<double>(figures.residentKbBefore));
  std::printf("open descriptors: %d before, %d after; threads: %d before, %d after\n", figures.descriptorsBefore,
              figures.descriptorsAfter, figures.threadsBefore, figures.threadsAfter);
  return figures.unexpected == 0 ? 0 : 1;
}
