// Child processes: one executable, an argument vector, no shell.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system/error.h"
#include "platform/system/fs.h"

namespace platform {

// What one finished child left behind.
struct ProcessOutput {
  bool exitedNormally = false;  // false when a signal ended it
  int exitStatus = -1;          // the exit status when it exited normally, else -1
  int terminationSignal = 0;    // the signal that ended it, else 0
  std::string standardOutput;   // every byte it wrote there, unchanged
  std::string standardError;
};

// Runs `executable` with `arguments` (not including the program name, which is the executable's path) and
// waits for it. Standard input, the environment and the working directory are the caller's own; no other
// descriptor of the caller's reaches the child. Standard output
// and standard error each go to their own pipe and are drained at the same time, so a child that writes many
// megabytes to both is never held up.
//
// The run ends when the child itself has exited: whatever it wrote is in the pipes by then and is read whole.
// Descendants that keep the pipes open (a server the child started in the background) are not waited for.
//
// Fails, with a readable description naming the executable, only when the child cannot be started (no such
// file, a directory, no execute permission, not an executable format). Blocks the calling thread; any thread
// may call it, several at once.
Result<ProcessOutput> runProcess(const Path& executable, const std::vector<std::string>& arguments);

// The same, telling `watchStandardError` about standard error while the child runs: with each piece as it
// arrives (already appended to `standardError`), and with an empty piece at least every `tickMs` milliseconds
// while nothing arrives, so that the watcher can act on time passing. It runs on the calling thread and must
// not block.
Result<ProcessOutput> runProcess(const Path& executable, const std::vector<std::string>& arguments,
                                 const std::function<void(std::string_view piece)>& watchStandardError,
                                 int tickMs = 100);

// This process's number.
int currentProcessId();

}  // namespace platform
