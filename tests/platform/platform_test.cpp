// The platform layer against temporary folders: files, processes, text and the bundle.
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>

#include <csignal>
#include <cstring>
#include <functional>

#include "platform/qt/plist.h"
#include "platform/qt/standard_paths.h"
#include "platform/system/file_data.h"
#include "platform/system/fs.h"
#include "platform/system/process.h"
#include "platform/system/single_instance.h"
#include "platform/system/text.h"
#include "platform/system/unique_fd.h"
#include "support/test.h"

namespace {

using platform::InfoValue;

// This process's descriptors that a program it starts would inherit.
std::set<std::string> inheritable() {
  std::set<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename().string());
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0 && !(flags & FD_CLOEXEC)) found.insert(entry.path().filename().string());
  }
  return found;
}

// The file layer against a temporary folder. What the runtime tests already prove through it (existence, the
// walk, moves, permission changes on tools) is not repeated here.
class FileSystem : public ::testing::Test {
 protected:
  TempDir dir;
  platform::PosixFileSystem fs;
};

// No descriptor of the launcher's ever lacks close-on-exec, not even for the moment a folder is read: a
// process started meanwhile (the website link's opener, from the window's thread) would inherit it.
TEST_F(FileSystem, ReadingFoldersNeverLeavesADescriptorOpenAcrossExec) {
  for (int i = 0; i < 400; ++i) writeFile(dir / ("tree/" + std::to_string(i) + "/file"), "x");
  const std::set<std::string> before = inheritable();  // the test's own standard streams
  bool leaked = false;
  {
    testing_support::Busy reader([&](int) { (void)fs.scan(dir / "tree", platform::TreeState::still); });
    for (auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
         !leaked && std::chrono::steady_clock::now() < until;)
      leaked = inheritable() != before;
  }
  EXPECT_FALSE(leaked);
}

// Names that come and go, and change kind, while a tree is scanned: a busy tree is scanned as it now is, every
// time; a still one fails with the system's words for a name gone.
TEST_F(FileSystem, ABusyTreeIsScannedAsItNowIsAndAStillOneFailsOnAVanishedName) {
  for (int i = 0; i < 8; ++i) writeFile(dir / "tree/stays" / std::to_string(i), "x");
  testing_support::Busy churn([&](int i) {
    const Path name = dir / "tree" / ("churn-" + std::to_string(i % 4));
    std::error_code ignored;
    std::filesystem::remove_all(name, ignored);
    i % 3 == 0 ? (void)std::filesystem::create_directories(name / "sub", ignored)  // a folder with a folder in it
               : testing_support::touch(name);
  });
  int busyFailures = 0, otherFailures = 0, stillVanished = 0;
  for (auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
       std::chrono::steady_clock::now() < until;) {
    auto busy = fs.scan(dir / "tree", platform::TreeState::busy);
    busyFailures += !busy.ok() || busy.value().size() < 10;  // the tree, "stays" and its eight files at least
    auto still = fs.scan(dir / "tree", platform::TreeState::still);
    otherFailures += !still.ok() && still.error().code() != ENOENT;
    stillVanished +=
        !still.ok() && still.error().localizedDescription().find("的属性") != std::string::npos;  // a name gone
  }
  EXPECT_EQ(busyFailures, 0);
  EXPECT_EQ(otherFailures, 0);
  EXPECT_GT(stillVanished, 0);  // the app's own payload is never taken as whole while a name of it is gone
}

// One launcher per user, whatever the first is doing or left behind: a later start either brings the first to
// the front and ends, or runs on its own within about 2 s, and a start that runs alone though a first exists
// says why. Each row is one way a start meets the first launcher.
using SingleInstance = FileSystem;
TEST_F(SingleInstance, EveryStartEndsAtTheFirstLauncherOrRunsWithinTwoSeconds) {
  enum class First { answers, answersNever, killedLeavingItsSocket, hungHoldingTheLock, neverAccepts };
  struct Row {
    const char* name;
    First first;
    const char* lock = "data/launcher.lock";  // the later start's spelling of the lock file's path
    bool socketFolder = true;
    bool ends = false;            // the later start ends, the first having come to the front
    const char* alone = "";       // else, why the later start runs alone
    const char* firstAlone = "";  // why the first itself cannot be found
  };
  const Row rows[] = {
      {"the first answers", First::answers, "data/launcher.lock", true, true},
      {"the same folder through a link", First::answers, "home-link/launcher.lock", true, true},
      {"a socket left by a killed launcher", First::killedLeavingItsSocket, "data/launcher.lock", true, true},
      {"a window thread that never acts", First::answersNever, "data/launcher.lock", true, false, "did not answer"},
      {"the lock held where no one listens", First::hungHoldingTheLock, "data/launcher.lock", true, false,
       "did not answer"},
      {"a listener that never accepts", First::neverAccepts, "data/launcher.lock", true, false, "did not answer"},
      {"no private folder for sockets", First::hungHoldingTheLock, "data/launcher.lock", false, false,
       "no private folder"},
      {"a lock file that cannot be made", First::answers, "a-file/launcher.lock", true, false, "no lock file"},
      {"a socket path too long", First::answers, "data/launcher.lock", true, false, "did not answer",
       "longer than a socket allows"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Path home = dir / std::to_string(&row - rows);
    const Path lock = home / "data/launcher.lock";
    Path sockets = home / "sockets";
    if (std::string(row.firstAlone).find("longer") != std::string::npos)  // a socket path of 108 bytes, one too many
      sockets /= std::string(sizeof(sockaddr_un::sun_path) - 33 - sockets.native().size(), 's');
    std::filesystem::create_directories(sockets);
    writeFile(lock, "4242\nLanqiLauncher\nanother-mac\n0b1c2d3e\n");  // from a home folder moved to a new machine
    std::filesystem::create_directory_symlink("data", home / "home-link");
    writeFile(home / "a-file", "");
    std::atomic<int> asked = 0;
    std::vector<std::function<void()>> unanswered;
    const auto serve = [&](std::function<void()> answer) {  // on the listener's thread, one start at a time
      ++asked;
      row.first == First::answersNever ? unanswered.push_back(std::move(answer)) : answer();
    };
    auto first = platform::SingleInstance::claim(fs, lock, sockets, serve);
    ASSERT_TRUE(first);
    const std::string& why = first->aloneBecause();
    EXPECT_TRUE(row.firstAlone[0] ? why.find(row.firstAlone) != std::string::npos : why.empty()) << why;
    const std::vector<Path> made(std::filesystem::directory_iterator(sockets), {});
    std::unique_ptr<platform::HeldLock> heldByTest;
    platform::detail::UniqueFd deaf;
    if (row.first == First::killedLeavingItsSocket || row.first == First::hungHoldingTheLock ||
        row.first == First::neverAccepts) {
      ASSERT_EQ(made.size(), 1u);
      first.reset();  // its socket goes with it: one left behind, or a deaf listener, takes the same name
      EXPECT_FALSE(std::filesystem::exists(made[0]));
      deaf.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strcpy(address.sun_path, made[0].c_str());
      ASSERT_EQ(::bind(deaf.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
      ASSERT_TRUE(row.first != First::neverAccepts || ::listen(deaf.get(), 1) == 0);
      if (row.first == First::killedLeavingItsSocket) {
        deaf.reset();
        first = platform::SingleInstance::claim(fs, lock, sockets, serve);
      } else {
        auto held = fs.tryLockFile(lock, "hung\n");
        ASSERT_TRUE(held.ok() && held.value().held);
        heldByTest = std::move(std::move(held).value().held);
      }
    }
    // Twelve starts at once, more than a full queue holds: each ends or runs, none waits past its deadline.
    const int starts = row.first == First::neverAccepts ? 12 : 1;
    std::atomic<int> ended = 0, late = 0;
    std::vector<std::string> reasons(starts);
    std::vector<std::thread> threads;
    for (int i = 0; i < starts; ++i) {
      threads.emplace_back([&, i] {
        const auto began = std::chrono::steady_clock::now();
        auto later = platform::SingleInstance::claim(fs, home / row.lock,
                                                     row.socketFolder ? std::optional(sockets) : std::nullopt,
                                                     [](std::function<void()>) {});
        late += std::chrono::steady_clock::now() - began > std::chrono::milliseconds(2500);
        later ? (void)(reasons[i] = later->aloneBecause()) : (void)++ended;
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(late, 0);
    EXPECT_EQ(ended, row.ends ? starts : 0);
    for (const std::string& why : reasons) EXPECT_TRUE(row.ends || why.find(row.alone) != std::string::npos) << why;
    EXPECT_EQ(asked, row.ends ? 1 : asked.load());
  }
}

// No descriptor of the listener, nor of a start it has not yet answered, reaches a program the launcher starts;
// the socket's folder is the user's private one, never the shared temporary folder.
TEST_F(SingleInstance, ListensInAPrivateFolderAndNoDescriptorOutlivesExec) {
  const std::set<std::string> before = inheritable();
  std::vector<std::function<void()>> unanswered;  // touched on the listener's thread only
  std::atomic<int> asked = 0;
  {
    const std::optional<Path> sockets = platform::privateSocketFolder(std::nullopt, dir.path());
    ASSERT_TRUE(sockets);
    EXPECT_EQ(*sockets, dir / ("lanqi-launcher-" + std::to_string(::geteuid())));
    EXPECT_EQ(modeOf(*sockets), 0700u);
    auto first = platform::SingleInstance::claim(fs, dir / "launcher.lock", sockets, [&](std::function<void()> answer) {
      unanswered.push_back(answer);
      ++asked;
    });
    auto later = platform::SingleInstance::claim(fs, dir / "launcher.lock", sockets, [](std::function<void()>) {});
    EXPECT_TRUE(later);  // never answered
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(inheritable(), before);
    // Another data folder's launcher listens on a socket of its own.
    auto other = platform::SingleInstance::claim(fs, dir / "other/launcher.lock", sockets, [](auto) {});
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(*sockets), {}), 2);
  }
  {  // A signal that interrupts the listener's wait (a program the launcher started ending, say) does not stop it.
    struct sigaction quiet {};
    quiet.sa_handler = [](int) {};
    ::sigaction(SIGUSR1, &quiet, nullptr);
    auto first = platform::SingleInstance::claim(fs, dir / "signalled.lock", dir.path(), [](auto answer) { answer(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the listener waits by now
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
      ::syscall(SYS_tgkill, ::getpid(), std::stoi(task.path().filename().string()), SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(platform::SingleInstance::claim(fs, dir / "signalled.lock", dir.path(), [](auto) {}));
  }
  // $XDG_RUNTIME_DIR where it is private; else the user's own folder in the temporary one, never a folder that
  // others may write or that is not the user's.
  const Path runtime = dir / "runtime", own = "lanqi-launcher-" + std::to_string(::geteuid());
  std::filesystem::create_directories(runtime);
  ::chmod(runtime.c_str(), 0700);
  EXPECT_EQ(platform::privateSocketFolder(runtime.string(), dir / "tmp"), runtime);
  std::filesystem::create_directories(dir / "tmp");
  ::chmod(runtime.c_str(), 0777);
  EXPECT_EQ(platform::privateSocketFolder(runtime.string(), dir / "tmp"), dir / "tmp" / own);
  ::chmod((dir / "tmp" / own).c_str(), 0777);
  EXPECT_FALSE(platform::privateSocketFolder(std::nullopt, dir / "tmp"));
  std::filesystem::create_directories(dir / "tmp2");
  std::filesystem::create_directory_symlink(runtime, dir / "tmp2" / own);
  ::chmod(runtime.c_str(), 0700);
  EXPECT_FALSE(platform::privateSocketFolder("relative", dir / "tmp2"));
  // The log's folder, as the system names it here, is never a path relative to wherever the launcher started.
  EXPECT_TRUE(platform::userLogDirectory() && platform::userLogDirectory()->is_absolute());
}

TEST_F(FileSystem, CopyTreeKeepsLinksModesAndTimesAndRefusesToOverwrite) {
  Path from = dir / "from";
  writeFile(from / "bin/tool", "#!/bin/sh\n", 0750);
  writeFile(from / "lib/mod.py", "print(1)\n", 0640);
  writeFile(from / "empty", "", 0600);
  const std::string big(3 * 1024 * 1024 + 17, 'q');
  writeFile(from / "big.bin", big);
  std::filesystem::create_symlink("no-such-target", from / "bin/dangling");
  writeFile(from / "locked/kept", "k");  // a read-only folder gets its mode once its files are in
  struct timespec old[2] = {{1000000000, 0}, {1234567890, 123456789}};
  ::utimensat(AT_FDCWD, (from / "lib/mod.py").c_str(), old, 0);
  ::utimensat(AT_FDCWD, (from / "lib").c_str(), old, 0);
  ::chmod((from / "locked").c_str(), 0500);

  ASSERT_TRUE(fs.copyTree(from, dir / "to", nullptr).ok());
  EXPECT_EQ(readFile(dir / "to/big.bin"), big);
  EXPECT_EQ(readFile(dir / "to/empty"), "");
  EXPECT_EQ(readFile(dir / "to/locked/kept"), "k");
  EXPECT_EQ(std::vector<int>({modeOf(dir / "to/bin/tool"), modeOf(dir / "to/lib/mod.py"), modeOf(dir / "to/locked")}),
            std::vector<int>({0750, 0640, 0500}));
  EXPECT_EQ(std::filesystem::read_symlink(dir / "to/bin/dangling"), "no-such-target");
  for (const char* timed : {"to/lib/mod.py", "to/lib"}) {
    struct stat st;
    ::lstat((dir / timed).c_str(), &st);
    EXPECT_EQ(std::pair(st.st_mtim.tv_sec, st.st_mtim.tv_nsec), std::pair(1234567890L, 123456789L)) << timed;
  }

  platform::Status again = fs.copyTree(from / "empty", dir / "to/empty", nullptr);
  ASSERT_FALSE(again.ok());
  EXPECT_EQ(again.error().code(), EEXIST);

  // A file that fails on a copying thread fails the whole copy (as the unprivileged user: root reads anything).
  if (::geteuid() != 0) {
    for (int i = 0; i < 16; ++i) writeFile(from / "many" / std::to_string(i), "x");
    ::chmod((from / "many/7").c_str(), 0);
    platform::Status unreadable = fs.copyTree(from, dir / "partial", nullptr);
    ASSERT_FALSE(unreadable.ok());
    EXPECT_EQ(unreadable.error().code(), EACCES) << unreadable.error().localizedDescription();
  }
}

TEST_F(FileSystem, RemoveTreeTakesReadOnlyFoldersAndNeverFollowsLinks) {
  writeFile(dir / "elsewhere/keep.txt", "precious");
  writeFile(dir / "tree/a/b.txt", "x");
  std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "tree/a/into-elsewhere");
  ::chmod((dir / "tree/a").c_str(), 0555);
  ASSERT_TRUE(fs.removeTree(dir / "tree").ok());
  EXPECT_FALSE(fs.existsWithoutFollowing(dir / "tree"));
  EXPECT_EQ(readFile(dir / "elsewhere/keep.txt"), "precious");
  EXPECT_EQ(fs.removeTree(dir / "tree").error().code(), ENOENT);
}

// The boot's name is the system's (a UUID here), and a flush reaches the disk or says why not: a file gone, or a
// link or a pipe in its place, is nothing to flush.
TEST_F(FileSystem, NamesTheBootAndFlushes) {
  EXPECT_EQ(fs.bootSession(), platform::trimWhitespaceAndNewlines(readFile("/proc/sys/kernel/random/boot_id")));
  EXPECT_EQ(fs.bootSession().size(), 36u);
  // A file that gives no size (the system's own, as the boot's name is) is read whole all the same.
  const std::string maps = fs.readFile("/proc/self/smaps").value();
  EXPECT_GT(maps.size(), 16'384u);
  EXPECT_TRUE(maps.ends_with("\n") && maps.find('\0') == std::string::npos);
  EXPECT_TRUE(fs.flushFileSystem(dir.path()).ok());
  EXPECT_EQ(fs.flushFileSystem(dir / "missing").error().code(), ENOENT);
  writeFile(dir / "file", "data");
  std::filesystem::create_symlink("file", dir / "link");
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
  EXPECT_TRUE(fs.flushFiles({dir / "file", dir / "missing", dir / "link", dir / "pipe"}).ok());
  writeFile(dir / "unreadable", "data", 0);
  if (::geteuid() != 0) {
    EXPECT_EQ(fs.flushFiles({dir / "unreadable"}).error().code(), EACCES);
  }
  // A stacked file system's own flush stops short of the storage below: there each file is flushed by itself.
  for (const char* part : {"lower", "upper", "work"}) std::filesystem::create_directories(dir / part);
  for (const bool stacked : {false, true}) {
    Mount mount(stacked ? "-t overlay overlay -o lowerdir=" + (dir / "lower").string() +
                              ",upperdir=" + (dir / "upper").string() + ",workdir=" + (dir / "work").string()
                        : "-t tmpfs tmpfs",
                dir / "mounted");
    if (!mount.mounted) GTEST_SKIP() << "needs root to mount";
    EXPECT_EQ(fs.flushFileSystem(dir / "mounted").value(), !stacked);
  }
}

// A file mapped rather than read, shortened in place by another program meanwhile, reads as zeros past its new end
// instead of stopping the process; any other bus error still ends it. Mapped or read, a text is whole.
TEST_F(FileSystem, AMappedFileShortenedMeanwhileReadsAsZeros) {
  const std::string page(4096, 'a');
  writeFile(dir / "record", page + page + "tail");
  for (int i = 0; i < 40; ++i) ASSERT_EQ(fs.mapFile(dir / "record").value()->text().size(), 2 * 4096 + 4u);
  const std::shared_ptr<const platform::FileText> record = fs.mapFile(dir / "record").value();
  std::vector<std::shared_ptr<const platform::FileText>> others;  // more than can be mapped at once: the rest read
  for (int i = 0; i < 40; ++i) {
    writeFile(dir / std::to_string(i), std::to_string(i));
    others.push_back(fs.mapFile(dir / std::to_string(i)).value());
  }
  EXPECT_TRUE(record->text() == page + page + "tail");
  ASSERT_EQ(::truncate((dir / "record").c_str(), 100), 0);
  EXPECT_EQ(record->text()[4096 + 1], '\0');  // first touched at an address inside its page
  EXPECT_TRUE(record->text() == page.substr(0, 100) + std::string(2 * 4096 + 4 - 100, '\0'));
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(others[i]->text(), std::to_string(i));
  }
  writeFile(dir / "empty", "");
  EXPECT_EQ(fs.mapFile(dir / "empty").value()->text(), "");
  EXPECT_EQ(fs.mapFile(dir.path()).error().code(), EINVAL);
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
  EXPECT_EQ(fs.mapFile(dir / "pipe").error().code(), EINVAL);  // refused at once, not waited on for a writer
  EXPECT_EQ(fs.mapFile(dir / "missing").error().code(), ENOENT);
  EXPECT_EXIT(
      ::raise(SIGBUS), [](int) { return true; }, "");  // it ends the process (a sanitizer's way or the system's)
}

// Copies of file data are whole, whatever the kernel copy reports, and holes stay holes.
TEST_F(FileSystem, CopiedDataIsNeverShortAndSparseFilesStaySparse) {
  const std::string data(200000, 'd');
  writeFile(dir / "file", data);
  const platform::detail::KernelCopy kernelCopies[] = {
      [](int, off_t*, int, off_t*, size_t) -> ssize_t { return 0; },  // reports nothing copied
      [](int in, off_t* inAt, int out, off_t* outAt, size_t) -> ssize_t {
        return ::copy_file_range(in, inAt, out, outAt, 1, 0);  // stops after one byte
      },
  };
  for (platform::detail::KernelCopy kernelCopy : kernelCopies) {
    const Path copy = dir / ("copy" + std::to_string(reinterpret_cast<uintptr_t>(kernelCopy)));
    platform::detail::UniqueFd in(::open((dir / "file").c_str(), O_RDONLY));
    platform::detail::UniqueFd out(::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644));
    struct stat st;
    ::fstat(in.get(), &st);
    platform::detail::CopyHints hints{.cloneUnsupported = true, .kernelCopyForTests = kernelCopy};
    ASSERT_TRUE(platform::detail::copyFileData(in.get(), out.get(), st, hints, "a", "b").ok());
    EXPECT_EQ(readFile(copy), data);
  }

  // 8 MiB with data only at the start: the copy stays small on disk and reads back the same.
  writeFile(dir / "sparse", "head");
  std::filesystem::resize_file(dir / "sparse", 8 << 20);
  ASSERT_TRUE(fs.copyTree(dir / "sparse", dir / "sparse-copy", nullptr).ok());
  struct stat copied;
  ASSERT_EQ(::stat((dir / "sparse-copy").c_str(), &copied), 0);
  EXPECT_EQ(copied.st_size, 8 << 20);
  EXPECT_LT(copied.st_blocks * 512, 1 << 20);
  EXPECT_EQ(readFile(dir / "sparse-copy"), readFile(dir / "sparse"));
}

// The child has the launcher's working folder, environment and standard input, and no other descriptor of its.
TEST(RunProcess, InheritsWorkingFolderEnvironmentAndStandardInputButNoOtherDescriptor) {
  TempDir dir;
  writeScript(dir / "tool", R"(pwd; printf '%s\n' "$PATH"; stat -L -c %d:%i /proc/self/fd/0; exec ls /proc/self/fd)");
  struct stat input;
  if (::fstat(0, &input) != 0) ::open("/dev/null", O_RDONLY);  // a closed standard input would prove nothing
  ASSERT_EQ(::fstat(0, &input), 0);
  int leak = ::open("/dev/null", O_RDONLY);  // not close-on-exec, as libraries sometimes leave them
  ASSERT_GE(leak, 3);
  auto run = platform::runProcess(dir / "tool", {});
  ::close(leak);
  ASSERT_TRUE(run.ok());
  EXPECT_EQ(run.value().standardOutput, std::filesystem::current_path().string() + "\n" + std::getenv("PATH") + "\n" +
                                            std::to_string(input.st_dev) + ":" + std::to_string(input.st_ino) +
                                            "\n0\n1\n2\n3\n");  // 3: the listing's own
}

// Rows: a lone continuation byte; a truncated three-byte sequence; a truncated four-byte one at the end;
// an overlong lead; E0 followed by less than A0; a surrogate; beyond U+10FFFF.
TEST(DecodeUtf8, ReplacesEachMaximalIllFormedSubsequence) {
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const std::pair<std::string, std::string> rows[] = {
      {"a\x80z", "a" + r + "z"},           {"a\xE5\xB2z", "a" + r + "z"},
      {"a\xF0\x9F\x98", "a" + r},          {"\xC0\xAF", r + r},
      {"\xE0\x80\x80", r + r + r},         {"\xED\xA0\x80", r + r + r},
      {"\xF4\x90\x80\x80", r + r + r + r},
  };
  for (const auto& [bytes, text] : rows) EXPECT_EQ(platform::decodeUtf8(bytes), text) << bytes;
}

TEST(Trim, RemovesThePlatformWhitespaceAndNewlineSetAtBothEndsOnly) {
  EXPECT_EQ(platform::trimWhitespaceAndNewlines(" \t\n\r\v\f a \n b \n"), "a \n b");
  EXPECT_EQ(platform::trimWhitespaceAndNewlines("\u3000\u00A0\u1680\u2000\u200A\u202F\u205F\u2028\u2029\u0085x\u2003"),
            "x");
  // Zero-width space and BOM are not white space here.
  EXPECT_EQ(platform::trimWhitespaceAndNewlines("\u200Bx\uFEFF"), "\u200Bx\uFEFF");
}

using Bundle = FileSystem;
TEST_F(Bundle, ReadsTopLevelValuesOfAnXmlPropertyList) {
  writeFile(dir / "Info.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>Nested</key><dict><key>Version</key><string>9.9.9</string></dict>"
            "<key>Version</key><string> v1.4.2 &amp; more </string><key>Build</key><integer>7</integer>"
            "<key>Empty</key><string/></dict></plist>");
  const std::tuple<const char*, const char*, InfoValue::Kind, const char*> rows[] = {
      {"Info.plist", "Version", InfoValue::Kind::text, " v1.4.2 & more "},
      {"Info.plist", "Build", InfoValue::Kind::other, ""},
      {"Info.plist", "version", InfoValue::Kind::absent, ""},
      {"missing.plist", "Version", InfoValue::Kind::absent, ""},
  };
  for (auto [file, key, kind, text] : rows) {
    InfoValue value = platform::readInfoDictionaryValue(dir / file, key);
    EXPECT_EQ(std::pair(value.kind, value.text), std::pair(kind, std::string(text))) << key;
  }
}

}  // namespace
