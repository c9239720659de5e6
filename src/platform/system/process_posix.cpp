#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>

#include "platform/system/process.h"
#include "platform/system/unique_fd.h"

extern "C" char** environ;

namespace platform {
namespace {

using Fd = detail::UniqueFd;

bool makePipe(Fd& readEnd, Fd& writeEnd) {
  int fds[2];
#if defined(__linux__)
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
#else
  if (::pipe(fds) != 0) return false;
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#endif
  readEnd.reset(fds[0]);
  writeEnd.reset(fds[1]);
  return true;
}

// A descriptor that becomes readable when the child exits, where the system offers one.
int openExitNotifier(pid_t pid) {
#if defined(__linux__) && defined(SYS_pidfd_open)
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// Reads what is available on `fd` into `sink`. Returns false at end of file or on an error that ends the stream.
bool readSome(int fd, std::string& sink) {
  std::array<char, 65536> buffer;
  for (;;) {
    ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got > 0) {
      sink.append(buffer.data(), static_cast<size_t>(got));
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

// After the child has exited: takes what is in the pipe now, without waiting for writers that outlived it.
void drainBuffered(int fd, std::string& sink) {
  int pending = 0;
  if (::ioctl(fd, FIONREAD, &pending) != 0 || pending <= 0) return;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  size_t want = sink.size() + static_cast<size_t>(pending);
  while (sink.size() < want && readSome(fd, sink)) {
    int more = 0;
    if (::ioctl(fd, FIONREAD, &more) != 0 || more <= 0) break;
  }
}

int waitForExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace

Result<ProcessOutput> runProcess(const Path& executable, const std::vector<std::string>& arguments) {
  return runProcess(executable, arguments, nullptr);
}

Result<ProcessOutput> runProcess(const Path& executable, const std::vector<std::string>& arguments,
                                 const std::function<void(std::string_view)>& watchStandardError, int tickMs) {
  const std::string what = "无法启动“" + executable.string() + "”";
  Fd outRead, outWrite, errRead, errWrite;
  if (!makePipe(outRead, outWrite) || !makePipe(errRead, errWrite)) return posixError(errno, what);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The child gets the launcher's standard input and the two pipes, and no other descriptor of the launcher's,
  // whatever a library left open without close-on-exec.
#if defined(__APPLE__)
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_CLOEXEC_DEFAULT);
  posix_spawn_file_actions_addinherit_np(&actions, STDIN_FILENO);
#else
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif

  std::vector<char*> argv;
  std::string program = executable.string();
  argv.push_back(program.data());
  std::vector<std::string> argumentCopies(arguments);
  for (std::string& argument : argumentCopies) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
  int spawnError = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawnError != 0) return posixError(spawnError, what);
  outWrite.reset();
  errWrite.reset();

  ProcessOutput output;
  Fd exitNotifier(openExitNotifier(pid));
  bool outOpen = true, errOpen = true, exited = false;
  int status = 0;
  while (!exited && (outOpen || errOpen || exitNotifier.get() >= 0)) {
    std::array<pollfd, 3> fds{};
    nfds_t count = 0;
    int outSlot = -1, errSlot = -1, exitSlot = -1;
    if (outOpen) fds[outSlot = static_cast<int>(count++)] = {outRead.get(), POLLIN, 0};
    if (errOpen) fds[errSlot = static_cast<int>(count++)] = {errRead.get(), POLLIN, 0};
    if (exitNotifier.get() >= 0) fds[exitSlot = static_cast<int>(count++)] = {exitNotifier.get(), POLLIN, 0};
    // Without an exit notifier the exit is noticed by a periodic look while descendants hold the pipes open.
    int timeout = exitNotifier.get() >= 0 ? -1 : 50;
    if (watchStandardError) timeout = timeout < 0 ? tickMs : std::min(timeout, tickMs);
    int ready = ::poll(fds.data(), count, timeout);
    if (ready < 0 && errno != EINTR) break;
    if (outSlot >= 0 && fds[outSlot].revents) outOpen = readSome(outRead.get(), output.standardOutput);
    const size_t errorBefore = output.standardError.size();
    if (errSlot >= 0 && fds[errSlot].revents) errOpen = readSome(errRead.get(), output.standardError);
    if (watchStandardError) watchStandardError(std::string_view(output.standardError).substr(errorBefore));
    if (exitSlot >= 0 && fds[exitSlot].revents) {
      status = waitForExit(pid);
      exited = true;
    } else if (exitSlot < 0) {
      pid_t done;
      while ((done = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
      }
      exited = done == pid;
    }
  }
  if (!exited) status = waitForExit(pid);
  if (outOpen) drainBuffered(outRead.get(), output.standardOutput);
  if (errOpen) drainBuffered(errRead.get(), output.standardError);

  if (WIFEXITED(status)) {
    output.exitedNormally = true;
    output.exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    output.terminationSignal = WTERMSIG(status);
  }
  return output;
}

int currentProcessId() { return static_cast<int>(::getpid()); }

}  // namespace platform
