// The file layer against a temporary folder. What the runtime tests already prove through it (existence, the
// walk, moves, permission changes on tools) is not repeated here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_data.h"
#include "platform/fs.h"
#include "platform/unique_fd.h"
#include "support/temp_dir.h"

namespace {

using platform::Path;
using testing_support::modeOf;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

TEST(FileSystem, CopyTreeKeepsLinksModesAndTimesAndRefusesToOverwrite) {
  TempDir dir;
  platform::PosixFileSystem fs;
  Path from = dir / "from";
  writeFile(from / "bin/tool", "#!/bin/sh\n", 0750);
  writeFile(from / "lib/mod.py", "print(1)\n", 0640);
  writeFile(from / "empty", "", 0600);
  const std::string big(3 * 1024 * 1024 + 17, 'q');
  writeFile(from / "big.bin", big);
  std::filesystem::create_symlink("no-such-target", from / "bin/dangling");
  std::filesystem::create_directory(from / "locked");
  struct timespec old[2] = {{1000000000, 0}, {1234567890, 123456789}};
  ::utimensat(AT_FDCWD, (from / "lib/mod.py").c_str(), old, 0);
  ::utimensat(AT_FDCWD, (from / "lib").c_str(), old, 0);
  ::chmod((from / "locked").c_str(), 0500);

  ASSERT_TRUE(fs.copyTree(from, dir / "to").ok());
  EXPECT_EQ(readFile(dir / "to/big.bin"), big);
  EXPECT_EQ(readFile(dir / "to/empty"), "");
  EXPECT_EQ(std::vector<int>({modeOf(dir / "to/bin/tool"), modeOf(dir / "to/lib/mod.py"), modeOf(dir / "to/locked")}),
            std::vector<int>({0750, 0640, 0500}));
  EXPECT_EQ(std::filesystem::read_symlink(dir / "to/bin/dangling"), "no-such-target");
  for (const char* timed : {"to/lib/mod.py", "to/lib"}) {
    struct stat st;
    ::lstat((dir / timed).c_str(), &st);
    EXPECT_EQ(std::pair(st.st_mtim.tv_sec, st.st_mtim.tv_nsec), std::pair(1234567890L, 123456789L)) << timed;
  }

  platform::Status again = fs.copyTree(from / "empty", dir / "to/empty");
  ASSERT_FALSE(again.ok());
  EXPECT_EQ(again.error().code(), EEXIST);
}

TEST(FileSystem, RemoveTreeTakesReadOnlyFoldersAndNeverFollowsLinks) {
  TempDir dir;
  platform::PosixFileSystem fs;
  writeFile(dir / "elsewhere/keep.txt", "precious");
  writeFile(dir / "tree/a/b.txt", "x");
  std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "tree/a/into-elsewhere");
  ::chmod((dir / "tree/a").c_str(), 0555);
  ASSERT_TRUE(fs.removeTree(dir / "tree").ok());
  EXPECT_FALSE(fs.existsWithoutFollowing(dir / "tree"));
  EXPECT_EQ(readFile(dir / "elsewhere/keep.txt"), "precious");
  EXPECT_EQ(fs.removeTree(dir / "tree").error().code(), ENOENT);
}

// Copies of file data are whole, whatever the kernel copy reports, and holes stay holes.
TEST(FileSystem, CopiedDataIsNeverShortAndSparseFilesStaySparse) {
  TempDir dir;
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

  // 8 MiB with data only at both ends: the copy stays small on disk and reads back the same.
  {
    platform::detail::UniqueFd sparse(::open((dir / "sparse").c_str(), O_WRONLY | O_CREAT, 0644));
    ASSERT_EQ(::pwrite(sparse.get(), "head", 4, 0), 4);
    ASSERT_EQ(::pwrite(sparse.get(), "tail", 4, (8 << 20) - 4), 4);
  }
  platform::PosixFileSystem fs;
  ASSERT_TRUE(fs.copyTree(dir / "sparse", dir / "sparse-copy").ok());
  struct stat copied;
  ASSERT_EQ(::stat((dir / "sparse-copy").c_str(), &copied), 0);
  EXPECT_EQ(copied.st_size, 8 << 20);
  EXPECT_LT(copied.st_blocks * 512, 1 << 20);
  EXPECT_EQ(readFile(dir / "sparse-copy"), readFile(dir / "sparse"));
}

}  // namespace
