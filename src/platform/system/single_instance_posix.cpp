#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "platform/system/process.h"
#include "platform/system/single_instance.h"
#include "platform/system/unique_fd.h"

namespace platform {
namespace {

using Fd = detail::UniqueFd;

constexpr int kAnswerMs = 1000;                              // a running launcher answers within this
constexpr std::chrono::milliseconds kListeningWithin{1000};  // one that holds the lock listens within this
constexpr char kRequest[] = "front\n", kAnswer[] = "ok\n";

// The socket's name, from the lock file's path (64-bit FNV-1a), so that the launchers of one data folder meet.
std::string socketName(const Path& lockFile) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : lockFile.string()) hash = (hash ^ c) * 1099511628211ull;
  char name[40];
  std::snprintf(name, sizeof name, "lanqi-launcher-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

// A local stream socket, closed on exec and never raising SIGPIPE.
int makeSocket() {
#if defined(__APPLE__)
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return fd;
  (void)::fcntl(fd, F_SETFD, FD_CLOEXEC);
  const int on = 1;
  (void)::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
  return fd;
#else
  return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
#endif
}

// Sends `text` whole; false when the other side went.
bool sendAll(int fd, const char* text) {
#if defined(__APPLE__)
  constexpr int kFlags = 0;  // SO_NOSIGPIPE is set on the socket
#else
  constexpr int kFlags = MSG_NOSIGNAL;
#endif
  for (size_t done = 0, size = std::strlen(text); done < size;) {
    ssize_t sent = ::send(fd, text + done, size - done, kFlags);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

// Waits up to `ms` for something to read on `fd`, and reads it; false when nothing came.
bool receive(int fd, int ms) {
  pollfd in{fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&in, 1, ms);
  } while (ready < 0 && errno == EINTR);
  char buffer[16];
  return ready == 1 && ::read(fd, buffer, sizeof buffer) > 0;
}

// Asks the launcher that listens at `address` to come to the front; true once it has answered. One that holds
// the lock but is still starting gets a moment to listen.
bool askToFront(const sockaddr_un& address) {
  const auto giveUp = std::chrono::steady_clock::now() + kListeningWithin;
  for (;;) {
    Fd client(makeSocket());
    if (!client.valid()) return false;
    if (::connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      return sendAll(client.get(), kRequest) && receive(client.get(), kAnswerMs);
    }
    if (std::chrono::steady_clock::now() >= giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// This process runs on its own: it holds the lock, or nothing at all.
class Alone : public SingleInstance {
 public:
  explicit Alone(std::unique_ptr<HeldLock> lock = nullptr) : lock_(std::move(lock)) {}

 private:
  std::unique_ptr<HeldLock> lock_;
};

// Holds the lock and answers later starts on a thread of its own.
class Listener final : public Alone {
 public:
  // Takes over the three descriptors.
  Listener(std::unique_ptr<HeldLock> lock, int server, Path socket, int wakeRead, int wakeWrite,
           std::function<void()> onAnotherStart)
      : Alone(std::move(lock)),
        server_(server),
        socket_(std::move(socket)),
        wakeRead_(wakeRead),
        wakeWrite_(wakeWrite),
        onAnotherStart_(std::move(onAnotherStart)),
        thread_([this] { serve(); }) {}
  ~Listener() override {
    (void)!::write(wakeWrite_.get(), "x", 1);
    thread_.join();
    (void)::unlink(socket_.c_str());
  }

 private:
  void serve() {
    for (;;) {
      pollfd ready[2] = {{server_.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
      if (::poll(ready, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (ready[1].revents != 0 || (ready[0].revents & (POLLERR | POLLNVAL)) != 0) return;
      Fd client(::accept(server_.get(), nullptr, nullptr));
      if (!client.valid()) continue;
      (void)::fcntl(client.get(), F_SETFD, FD_CLOEXEC);
      // A start says one line and is answered at once; the window comes to the front after.
      if (!receive(client.get(), kAnswerMs)) continue;
      (void)sendAll(client.get(), kAnswer);
      onAnotherStart_();
    }
  }

  Fd server_;
  Path socket_;
  Fd wakeRead_, wakeWrite_;
  std::function<void()> onAnotherStart_;
  std::thread thread_;
};

// Listens at `address` (the path `socket`) for later starts, replacing a socket that an ended launcher left
// there: the caller holds the lock. Without a place to listen, holds the lock alone.
std::unique_ptr<SingleInstance> listen(std::unique_ptr<HeldLock> lock, const std::optional<sockaddr_un>& address,
                                       const Path& socket, std::function<void()> onAnotherStart) {
  if (!address) return std::make_unique<Alone>(std::move(lock));
  (void)::unlink(socket.c_str());
  Fd server(makeSocket());
  int wake[2];
  if (!server.valid() || ::bind(server.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 ||
      ::listen(server.get(), 8) != 0 || ::pipe(wake) != 0) {
    return std::make_unique<Alone>(std::move(lock));  // later starts find no one to ask, and run on their own
  }
  (void)::fcntl(wake[0], F_SETFD, FD_CLOEXEC);
  (void)::fcntl(wake[1], F_SETFD, FD_CLOEXEC);
  try {
    return std::make_unique<Listener>(std::move(lock), server.release(), socket, wake[0], wake[1],
                                      std::move(onAnotherStart));
  } catch (const std::system_error&) {
    return std::make_unique<Alone>();  // no thread to be had: the lock and the descriptors went with it
  }
}

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::claim(FileSystem& fileSystem, const Path& lockFile,
                                                      const std::optional<Path>& socketFolder,
                                                      std::function<void()> onAnotherStart) {
  std::optional<sockaddr_un> address;
  Path socket;
  if (socketFolder) {
    socket = *socketFolder / socketName(lockFile);
    sockaddr_un at{};
    at.sun_family = AF_UNIX;
    if (socket.native().size() < sizeof at.sun_path) {  // else longer than a socket's path may be: no socket
      std::memcpy(at.sun_path, socket.c_str(), socket.native().size() + 1);
      address = at;
    }
  }
  (void)fileSystem.createDirectories(lockFile.parent_path());
  Result<LockAttempt> attempt = fileSystem.tryLockFile(lockFile, std::to_string(currentProcessId()) + "\n");
  if (!attempt) return std::make_unique<Alone>();  // no lock file to be had: run alone
  if (attempt.value().held) {
    return listen(std::move(std::move(attempt).value().held), address, socket, std::move(onAnotherStart));
  }
  if (address && askToFront(*address)) return nullptr;
  return std::make_unique<Alone>();  // held, but no launcher answers: run rather than end without a word
}

}  // namespace platform
