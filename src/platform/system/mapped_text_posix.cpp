// Files mapped from the system's cache, and the guard that keeps a mapped file shortened meanwhile from stopping
// the process: a touch past a file's new end raises SIGBUS, which the guard answers with a page of zeros.
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/system/fs_posix_shared.h"

namespace platform::detail {
namespace {

#ifdef MAP_POPULATE
constexpr int kPopulate = MAP_POPULATE;  // every page mapped in the one call: far fewer faults than touch by touch
#else
constexpr int kPopulate = 0;
#endif

// The mappings alive now, so that the guard tells their faults from any other. A slot is free while its end is 0;
// the guard reads the slots only.
struct Slot {
  std::atomic<std::uintptr_t> begin{0}, end{0};
};
std::array<Slot, 32> slots;
std::mutex slotsMutex;  // taking and giving back slots
struct sigaction previousAction;
std::uintptr_t pageSize = 0;

// Only calls that a signal handler may make.
void onBusError(int signal, siginfo_t* info, void* context) {
  const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (Slot& slot : slots) {
    if (at < slot.begin.load() || at >= slot.end.load()) continue;
    // The page past the file's end becomes zeros; the access then runs again and reads them.
    void* page = reinterpret_cast<void*>(at & ~(pageSize - 1));
    if (::mmap(page, pageSize, PROT_READ, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) != MAP_FAILED) return;
  }
  // Not a mapped text's fault: handled as it would have been without the guard.
  if ((previousAction.sa_flags & SA_SIGINFO) != 0 && previousAction.sa_sigaction != nullptr) {
    previousAction.sa_sigaction(signal, info, context);
  } else if ((previousAction.sa_flags & SA_SIGINFO) == 0 && previousAction.sa_handler != SIG_DFL &&
             previousAction.sa_handler != SIG_IGN) {
    previousAction.sa_handler(signal);
  } else {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    ::sigaction(SIGBUS, &standard, nullptr);
    ::raise(signal);  // delivered on return: the process ends as it would have
  }
}

bool installGuard() {
  pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  struct sigaction action {};
  action.sa_sigaction = onBusError;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);  // a macro on macOS
  return ::sigaction(SIGBUS, &action, &previousAction) == 0;
}

class MappedText final : public FileText {
 public:
  MappedText(const char* data, size_t size, Slot& slot) : data_(data), size_(size), slot_(slot) {}
  ~MappedText() override {
    std::lock_guard<std::mutex> lock(slotsMutex);
    slot_.end = 0;
    slot_.begin = 0;
    ::munmap(const_cast<char*>(data_), size_);
  }
  std::string_view text() const override { return {data_, size_}; }

 private:
  const char* data_;
  size_t size_;
  Slot& slot_;
};

}  // namespace

std::shared_ptr<const FileText> mapText(int fd, size_t size) {
  static const bool guarded = installGuard();
  if (!guarded || size == 0) return nullptr;
  std::lock_guard<std::mutex> lock(slotsMutex);
  for (Slot& slot : slots) {
    if (slot.end.load() != 0) continue;
    void* at = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | kPopulate, fd, 0);
    if (at == MAP_FAILED) return nullptr;
    slot.begin = reinterpret_cast<std::uintptr_t>(at);
    slot.end = reinterpret_cast<std::uintptr_t>(at) + size;
    return std::make_shared<MappedText>(static_cast<const char*>(at), size, slot);
  }
  return nullptr;  // as many texts mapped as there are slots: read
}

}  // namespace platform::detail
