#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
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

// The socket's name, from the lock file's device and inode (64-bit FNV-1a), so that the launchers of one data
// folder meet however its path is spelled.
std::string socketName(const struct stat& lock) {
  std::uint64_t hash = 14695981039346656037ull;
  for (std::uint64_t part : {static_cast<std::uint64_t>(lock.st_dev), static_cast<std::uint64_t>(lock.st_ino)}) {
    for (int byte = 0; byte < 8; ++byte) hash = (hash ^ ((part >> (8 * byte)) & 0xFF)) * 1099511628211ull;
  }
  char name[40];
  std::snprintf(name, sizeof name, "lanqi-launcher-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

// A local stream socket, closed on exec from the start and never raising SIGPIPE; `nonBlocking` for a client,
// whose connect must never wait on a launcher that does not accept.
int makeSocket(bool nonBlocking) {
#if defined(__APPLE__)
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return fd;
  (void)::fcntl(fd, F_SETFD, FD_CLOEXEC);
  if (nonBlocking) (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  const int on = 1;
  (void)::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
  return fd;
#else
  return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
#endif
}

// A connection accepted from `server`, closed on exec from the start.
int acceptClient(int server) {
#if defined(__APPLE__)
  int fd = ::accept(server, nullptr, nullptr);  // no accept4 here: open for a moment until the next line
  if (fd >= 0) (void)::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return fd;
#else
  return ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
#endif
}

// A pipe whose two ends are closed on exec from the start.
bool makePipe(int ends[2]) {
#if defined(__APPLE__)
  if (::pipe(ends) != 0) return false;
  (void)::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
  (void)::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
  return true;
#else
  return ::pipe2(ends, O_CLOEXEC) == 0;
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

// Waits up to `ms` for `events` on `fd`; true when they came.
bool waitFor(int fd, short events, int ms) {
  pollfd one{fd, events, 0};
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    const int ready = ::poll(&one, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
    if (ready >= 0 || errno != EINTR) return ready == 1 && (one.revents & events) != 0;
  }
}

// Waits up to `ms` for something to read on `fd`, and reads it; false when nothing came.
bool receive(int fd, int ms) {
  char buffer[16];
  while (waitFor(fd, POLLIN, ms)) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return got > 0;
  }
  return false;
}

// Asks the launcher that listens at `address` to come to the front; true once it has answered. One that holds
// the lock but is still starting gets a moment to listen; neither the connection nor the answer is waited for
// past its deadline.
bool askToFront(const sockaddr_un& address) {
  const auto giveUp = std::chrono::steady_clock::now() + kListeningWithin;
  for (;;) {
    Fd client(makeSocket(true));
    if (!client.valid()) return false;
    // A local socket connects at once or not at all: nobody listens, or the queue is full.
    const int connected = ::connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (connected == 0) return sendAll(client.get(), kRequest) && receive(client.get(), kAnswerMs);
    if (std::chrono::steady_clock::now() >= giveUp) return false;  // nobody listens, or a queue that stays full
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// The address of the socket at `path`; none when the path is longer than a socket's may be.
std::optional<sockaddr_un> addressOf(const Path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.native().size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, path.c_str(), path.native().size() + 1);
  return address;
}

// This process runs on its own: it holds the lock, or nothing at all.
class Alone : public SingleInstance {
 public:
  explicit Alone(std::string because, std::unique_ptr<HeldLock> lock = nullptr) : lock_(std::move(lock)) {
    aloneBecause_ = std::move(because);
  }

 private:
  std::unique_ptr<HeldLock> lock_;
};

// Holds the lock and answers later starts on a thread of its own.
class Listener final : public Alone {
 public:
  // Takes over the three descriptors.
  Listener(std::unique_ptr<HeldLock> lock, int server, Path socket, int wakeRead, int wakeWrite,
           AnotherStart onAnotherStart)
      : Alone("", std::move(lock)),
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
      auto client = std::make_shared<Fd>(acceptClient(server_.get()));
      if (!client->valid()) continue;
      // A start says one line and is answered once the window has acted on it; one that hears nothing in time
      // runs on its own, so a window that hangs never keeps a later start from opening.
      if (!receive(client->get(), kAnswerMs)) continue;
      onAnotherStart_([client] { (void)sendAll(client->get(), kAnswer); });
    }
  }

  Fd server_;
  Path socket_;
  Fd wakeRead_, wakeWrite_;
  AnotherStart onAnotherStart_;
  std::thread thread_;
};

std::string reason(const std::string& what, int error) { return what + ": " + std::strerror(error); }

// Listens at `socket` for later starts, replacing a socket that an ended launcher left there: the caller holds
// the lock. Without a place to listen, holds the lock alone and says why.
std::unique_ptr<SingleInstance> listen(std::unique_ptr<HeldLock> lock, const Path& socket,
                                       SingleInstance::AnotherStart onAnotherStart) {
  const std::optional<sockaddr_un> address = addressOf(socket);
  if (!address) {
    return std::make_unique<Alone>("the socket path " + socket.string() + " is longer than a socket allows",
                                   std::move(lock));
  }
  (void)::unlink(socket.c_str());
  Fd server(makeSocket(false));
  if (!server.valid() || ::bind(server.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 ||
      ::listen(server.get(), 8) != 0) {
    return std::make_unique<Alone>(reason("cannot listen at " + socket.string(), errno), std::move(lock));
  }
  int wake[2];
  if (!makePipe(wake)) return std::make_unique<Alone>(reason("no pipe for the listener", errno), std::move(lock));
  try {
    return std::make_unique<Listener>(std::move(lock), server.release(), socket, wake[0], wake[1],
                                      std::move(onAnotherStart));
  } catch (const std::system_error&) {
    return std::make_unique<Alone>("no thread for the listener");  // the lock and the descriptors went with it
  }
}

}  // namespace

std::unique_ptr<SingleInstance> SingleInstance::claim(FileSystem& fileSystem, const Path& lockFile,
                                                      const std::optional<Path>& socketFolder,
                                                      AnotherStart onAnotherStart) {
  (void)fileSystem.createDirectories(lockFile.parent_path());
  Result<LockAttempt> attempt = fileSystem.tryLockFile(lockFile, std::to_string(currentProcessId()) + "\n");
  if (!attempt) return std::make_unique<Alone>("no lock file: " + attempt.error().localizedDescription());
  struct stat identity {};
  if (::stat(lockFile.c_str(), &identity) != 0) {
    return std::make_unique<Alone>(reason("cannot read the lock file " + lockFile.string(), errno),
                                   std::move(std::move(attempt).value().held));
  }
  if (!socketFolder) {
    return std::make_unique<Alone>("no private folder for the launcher's socket",
                                   std::move(std::move(attempt).value().held));
  }
  const Path socket = *socketFolder / socketName(identity);
  if (attempt.value().held) {
    return listen(std::move(std::move(attempt).value().held), socket, std::move(onAnotherStart));
  }
  if (const std::optional<sockaddr_un> address = addressOf(socket); address && askToFront(*address)) return nullptr;
  return std::make_unique<Alone>("another launcher holds " + lockFile.string() + " but did not answer at " +
                                 socket.string());
}

std::optional<Path> privateSocketFolder(const std::optional<std::string>& runtimeDirectory, const Path& temporaryRoot) {
  auto privateFolder = [](const Path& folder) {
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
  };
  if (runtimeDirectory && !runtimeDirectory->empty() && Path(*runtimeDirectory).is_absolute() &&
      privateFolder(*runtimeDirectory)) {
    return Path(*runtimeDirectory);
  }
  const Path own = temporaryRoot / ("lanqi-launcher-" + std::to_string(::geteuid()));
  (void)::mkdir(own.c_str(), 0700);
  if (privateFolder(own)) return own;
  return std::nullopt;
}

}  // namespace platform
