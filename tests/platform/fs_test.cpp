#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "platform/file_data.h"
#include "platform/fs.h"
#include "platform/unique_fd.h"
#include "support/temp_dir.h"

namespace {

using platform::EntryKind;
using platform::Path;
using testing_support::modeOf;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

struct timespec modificationTime(const Path& path) {
  struct stat st;
  ::lstat(path.c_str(), &st);
  return st.st_mtim;
}

TEST(FileSystem, ExistenceFollowsTheFinalLinkAndExecutableFollowsPermissions) {
  TempDir dir;
  platform::PosixFileSystem fs;
  writeFile(dir / "plain", "x", 0644);
  writeFile(dir / "tool", "x", 0755);
  std::filesystem::create_symlink("plain", dir / "link");
  std::filesystem::create_symlink("gone", dir / "dangling");

  EXPECT_TRUE(fs.exists(dir / "plain"));
  EXPECT_TRUE(fs.exists(dir / "link"));
  EXPECT_FALSE(fs.exists(dir / "dangling"));
  EXPECT_TRUE(fs.existsWithoutFollowing(dir / "dangling"));
  EXPECT_FALSE(fs.exists(dir / "nothing"));

  EXPECT_TRUE(fs.isExecutable(dir / "tool"));
  EXPECT_FALSE(fs.isExecutable(dir / "plain"));
  EXPECT_FALSE(fs.isExecutable(dir / "nothing"));

  EXPECT_TRUE(fs.isRegularFile(dir / "plain").value());
  EXPECT_FALSE(fs.isRegularFile(dir / "link").value());
  EXPECT_FALSE(fs.isRegularFile(dir.path()).value());
  platform::Result<bool> missing = fs.isRegularFile(dir / "nothing");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().domain(), platform::kPosixErrorDomain);
  EXPECT_EQ(missing.error().code(), ENOENT);
  EXPECT_NE(missing.error().localizedDescription().find((dir / "nothing").string()), std::string::npos);
}

TEST(FileSystem, CreateDirectoriesMakesIntermediatesAndAcceptsAnExistingOne) {
  TempDir dir;
  platform::PosixFileSystem fs;
  Path deep = dir / "a" / "b c" / "d";
  ASSERT_TRUE(fs.createDirectories(deep).ok());
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  EXPECT_TRUE(fs.createDirectories(deep).ok());

  writeFile(dir / "file", "x");
  platform::Status blocked = fs.createDirectories(dir / "file" / "sub");
  ASSERT_FALSE(blocked.ok());
  EXPECT_EQ(blocked.error().code(), EEXIST);
  EXPECT_NE(blocked.error().localizedDescription().find("无法创建目录"), std::string::npos);
}

TEST(FileSystem, RemoveTreeRemovesLinksAsLinksAndNeverFollowsThem) {
  TempDir dir;
  platform::PosixFileSystem fs;
  writeFile(dir / "elsewhere" / "keep.txt", "precious");
  writeFile(dir / "tree" / "a" / "b.txt", "x");
  writeFile(dir / "tree" / ".hidden", "x");
  std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "tree" / "a" / "into-elsewhere");
  std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "top-link");
  ::chmod((dir / "tree" / "a").c_str(), 0555);  // read-only folders still go

  ASSERT_TRUE(fs.removeTree(dir / "tree").ok());
  EXPECT_FALSE(fs.existsWithoutFollowing(dir / "tree"));
  ASSERT_TRUE(fs.removeTree(dir / "top-link").ok());
  EXPECT_FALSE(fs.existsWithoutFollowing(dir / "top-link"));
  EXPECT_EQ(readFile(dir / "elsewhere" / "keep.txt"), "precious");

  platform::Status missing = fs.removeTree(dir / "nothing");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code(), ENOENT);
}

TEST(FileSystem, CopyTreeKeepsLinksModesAndTimes) {
  TempDir dir;
  platform::PosixFileSystem fs;
  Path from = dir / "from";
  writeFile(from / "bin" / "tool", "#!/bin/sh\n", 0750);
  writeFile(from / "lib" / "mod.py", "print(1)\n", 0640);
  writeFile(from / ".hidden", "h", 0600);
  writeFile(from / "empty", "", 0644);
  std::string big(3 * 1024 * 1024 + 17, 'q');
  writeFile(from / "big.bin", big);
  std::filesystem::create_symlink("tool", from / "bin" / "relative");
  std::filesystem::create_symlink("/usr/bin/env", from / "bin" / "absolute");
  std::filesystem::create_symlink("no-such-target", from / "bin" / "dangling");
  std::filesystem::create_directory(from / "locked");
  struct timespec old[2] = {{1000000000, 0}, {1234567890, 123456789}};
  ::utimensat(AT_FDCWD, (from / "lib" / "mod.py").c_str(), old, 0);
  ::utimensat(AT_FDCWD, (from / "lib").c_str(), old, 0);
  ::chmod((from / "locked").c_str(), 0500);

  Path to = dir / "to";
  ASSERT_TRUE(fs.copyTree(from, to).ok());

  EXPECT_EQ(readFile(to / "bin" / "tool"), "#!/bin/sh\n");
  EXPECT_EQ(readFile(to / "big.bin"), big);
  EXPECT_EQ(readFile(to / ".hidden"), "h");
  EXPECT_EQ(readFile(to / "empty"), "");
  EXPECT_EQ(modeOf(to / "bin" / "tool"), 0750);
  EXPECT_EQ(modeOf(to / "lib" / "mod.py"), 0640);
  EXPECT_EQ(modeOf(to / ".hidden"), 0600);
  EXPECT_EQ(modeOf(to / "locked"), 0500);
  EXPECT_EQ(std::filesystem::read_symlink(to / "bin" / "relative"), "tool");
  EXPECT_EQ(std::filesystem::read_symlink(to / "bin" / "absolute"), "/usr/bin/env");
  EXPECT_EQ(std::filesystem::read_symlink(to / "bin" / "dangling"), "no-such-target");
  struct timespec fileTime = modificationTime(to / "lib" / "mod.py");
  EXPECT_EQ(fileTime.tv_sec, 1234567890);
  EXPECT_EQ(fileTime.tv_nsec, 123456789);
  EXPECT_EQ(modificationTime(to / "lib").tv_sec, 1234567890);

  // A destination that exists is refused, and the source is left alone.
  platform::Status again = fs.copyTree(from / "empty", to / "empty");
  ASSERT_FALSE(again.ok());
  EXPECT_EQ(again.error().code(), EEXIST);
  platform::Status noSource = fs.copyTree(dir / "nothing", dir / "copy");
  ASSERT_FALSE(noSource.ok());
  EXPECT_EQ(noSource.error().code(), ENOENT);
  EXPECT_NE(noSource.error().localizedDescription().find((dir / "nothing").string()), std::string::npos);
}

TEST(FileSystem, WalkIncludesHiddenEntriesAndNeverEntersLinkedFolders) {
  TempDir dir;
  platform::PosixFileSystem fs;
  writeFile(dir / "outside" / "secret", "x");
  writeFile(dir / "root" / "a" / "b" / "deep", "x");
  writeFile(dir / "root" / ".dot", "x");
  std::filesystem::create_directory_symlink(dir / "outside", dir / "root" / "a" / "link");

  std::map<std::string, EntryKind> seen;
  ASSERT_TRUE(fs.walk(dir / "root", [&](const platform::WalkEntry& entry) {
                  seen[entry.path.lexically_relative(dir / "root").string()] = entry.kind;
                  return platform::Status::success();
                }).ok());
  std::map<std::string, EntryKind> expected = {{".dot", EntryKind::regular},
                                               {"a", EntryKind::directory},
                                               {"a/b", EntryKind::directory},
                                               {"a/b/deep", EntryKind::regular},
                                               {"a/link", EntryKind::symlink}};
  EXPECT_EQ(seen, expected);

  // A failure from the visitor stops the walk and comes back unchanged.
  int visits = 0;
  platform::Status stopped = fs.walk(dir / "root", [&](const platform::WalkEntry&) -> platform::Status {
    ++visits;
    return platform::Error("test", 7, "stop");
  });
  ASSERT_FALSE(stopped.ok());
  EXPECT_EQ(stopped.error(), platform::Error("test", 7, "stop"));
  EXPECT_EQ(visits, 1);
}

TEST(FileSystem, SetPermissionsReplacesTheBitsAndReportsMissingFiles) {
  TempDir dir;
  platform::PosixFileSystem fs;
  writeFile(dir / "f", "x", 0600);
  ASSERT_TRUE(fs.setPermissions(dir / "f", 0755).ok());
  EXPECT_EQ(modeOf(dir / "f"), 0755);
  platform::Status missing = fs.setPermissions(dir / "none", 0755);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().localizedDescription(),
            "无法设置“" + (dir / "none").string() + "”的权限：没有那个文件或目录（错误码 2）");
}

// Copies of file data are whole, whatever the kernel copy reports, and holes stay holes.
TEST(FileSystem, CopiedDataIsNeverShortAndSparseFilesStaySparse) {
  TempDir dir;
  std::string data(200000, 'd');
  writeFile(dir / "file", data);
  struct Row {
    const char* what;
    platform::detail::KernelCopy kernelCopy;
  };
  const Row rows[] = {
      {"reports nothing copied", [](int, off_t*, int, off_t*, size_t) -> ssize_t { return 0; }},
      {"stops after one byte",
       [](int in, off_t* inAt, int out, off_t* outAt, size_t) -> ssize_t {
         return ::copy_file_range(in, inAt, out, outAt, 1, 0);
       }},
  };
  for (const Row& row : rows) {
    platform::detail::UniqueFd in(::open((dir / "file").c_str(), O_RDONLY));
    platform::detail::UniqueFd out(::open((dir / row.what).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644));
    struct stat st;
    ::fstat(in.get(), &st);
    platform::detail::CopyHints hints;
    hints.cloneUnsupported = true;
    hints.kernelCopyForTests = row.kernelCopy;
    ASSERT_TRUE(platform::detail::copyFileData(in.get(), out.get(), st, hints, "a", "b").ok()) << row.what;
    EXPECT_EQ(readFile(dir / row.what), data) << row.what;
  }

  // 8 MiB with data only at both ends: the copy stays small on disk and reads back the same.
  platform::PosixFileSystem fs;
  {
    platform::detail::UniqueFd sparse(::open((dir / "sparse").c_str(), O_WRONLY | O_CREAT, 0644));
    ASSERT_EQ(::pwrite(sparse.get(), "head", 4, 0), 4);
    ASSERT_EQ(::pwrite(sparse.get(), "tail", 4, (8 << 20) - 4), 4);
  }
  ASSERT_TRUE(fs.copyTree(dir / "sparse", dir / "sparse-copy").ok());
  struct stat copied;
  ASSERT_EQ(::stat((dir / "sparse-copy").c_str(), &copied), 0);
  EXPECT_EQ(copied.st_size, 8 << 20);
  EXPECT_LT(copied.st_blocks * 512, 1 << 20);
  EXPECT_EQ(readFile(dir / "sparse-copy"), readFile(dir / "sparse"));
}

}  // namespace
