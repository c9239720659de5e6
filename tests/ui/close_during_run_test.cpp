
#include <filesystem>

#include "platform/system/process.h"
#include "support/test.h"

namespace {

TEST(CloseDuringRun, TheProcessEndsPromptlyAndTheBackendFinishesItsWork) {
  testing_support::TempDir marks;
  // Started as sudo or a remote session starts it, without $XDG_RUNTIME_DIR or $TMPDIR: it finds a private
  // folder for its socket all the same, and prints nothing of its own (Qt's other messages pass).
  auto run = platform::runProcess("/usr/bin/env",
                                  {"-u", "XDG_RUNTIME_DIR", "-u", "TMPDIR", CLOSE_DURING_RUN, marks.path().string()});
  ASSERT_TRUE(run.ok());
  EXPECT_TRUE(run.value().exitedNormally) << run.value().standardError;
  EXPECT_EQ(run.value().exitStatus, 0);
  std::string said = run.value().standardError;  // less a sanitizer's reports on Qt's own threads
  for (size_t at; (at = said.find("==================\n")) != std::string::npos;)
    said.erase(at, said.find("==================\n", at + 19) + 19 - at);
  EXPECT_EQ(said, "any other message of Qt's still passes\n");
  // The window closes once the backend has begun; the backend then sleeps for 3 s before its last mark.
  EXPECT_TRUE(std::filesystem::exists(marks / "backend.begun"));
  EXPECT_FALSE(std::filesystem::exists(marks / "backend.done")) << "the launcher waited for the backend";

  // The backend was neither waited for nor killed: it finishes its work after the launcher has gone.
  for (int i = 0; i < 100 && !std::filesystem::exists(marks / "backend.done"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(std::filesystem::exists(marks / "backend.done"));
}

}  // namespace
