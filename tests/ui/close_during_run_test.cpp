#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/process.h"
#include "support/temp_dir.h"

namespace {

TEST(CloseDuringRun, TheProcessEndsPromptlyAndTheBackendFinishesItsWork) {
  testing_support::TempDir marks;
  auto started = std::chrono::steady_clock::now();
  auto run = platform::runProcess(CLOSE_DURING_RUN, {marks.path().string()});
  auto took = std::chrono::steady_clock::now() - started;
  ASSERT_TRUE(run.ok());
  EXPECT_TRUE(run.value().exitedNormally) << run.value().standardError;
  EXPECT_EQ(run.value().exitStatus, 0);
  EXPECT_LT(took, std::chrono::milliseconds(2800)) << "waited for the backend, which sleeps for 3 s";

  // The backend was neither waited for nor killed: it finishes its work after the launcher has gone.
  for (int i = 0; i < 100 && !std::filesystem::exists(marks / "backend.done"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(std::filesystem::exists(marks / "backend.done"));
}

}  // namespace
