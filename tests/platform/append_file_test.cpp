#include "platform/append_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/file_text.h"
#include "tests/support/open_descriptors.h"
#include "tests/support/temp_dir.h"

namespace rw::platform {
namespace {

using rw::testing::OpenDescriptorCount;
using rw::testing::ReadFile;

TEST(AppendFile, AppendsBehindWhatTheFileHeldAndCreatesItPrivate) {
  rw::testing::TempDir dir;
  const std::string path = (dir.path() / "log.txt").string();
  {
    AppendFile file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_EQ(file.SizeAtOpen(), 0);
    EXPECT_TRUE(file.Write("first\n"));
    EXPECT_TRUE(file.Close());
  }
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  AppendFile file;
  ASSERT_TRUE(file.Open(path));
  EXPECT_EQ(file.SizeAtOpen(), 6);
  EXPECT_TRUE(file.Write("second\n"));
  EXPECT_EQ(ReadFile(path), "first\n");  // still buffered
  EXPECT_TRUE(file.Flush());
  EXPECT_EQ(ReadFile(path), "first\nsecond\n");
  EXPECT_TRUE(file.Close());
  EXPECT_FALSE(file.Close());  // already closed
}

TEST(AppendFile, WritesLargerThanTheBufferKeepTheirOrder) {
  rw::testing::TempDir dir;
  const std::string path = (dir.path() / "big.txt").string();
  std::string expected;
  AppendFile file;
  ASSERT_TRUE(file.Open(path));
  // Small, then one beyond the buffer, then small again: the large write must not overtake
  // the bytes buffered before it.
  for (const size_t size : {size_t{10}, size_t{200 * 1024}, size_t{60 * 1024}, size_t{5 * 1024}}) {
    const std::string piece(size, static_cast<char>('a' + expected.size() % 26));
    expected += piece;
    ASSERT_TRUE(file.Write(piece));
  }
  ASSERT_TRUE(file.Close());
  EXPECT_TRUE(ReadFile(path) == expected);
}

TEST(AppendFile, AFullDiskFailsTheWriteAndEveryOneAfterIt) {
  AppendFile file;
  ASSERT_TRUE(file.Open("/dev/full"));
  EXPECT_TRUE(file.Write("buffered"));
  EXPECT_FALSE(file.Flush());
  EXPECT_EQ(file.Error(), ENOSPC);
  EXPECT_FALSE(file.Write("more"));
  EXPECT_FALSE(file.Close());
  EXPECT_EQ(file.Error(), ENOSPC);  // the first failure is the one kept
}

TEST(AppendFile, AbandonCutsTheFileBackToItsSizeAtOpen) {
  rw::testing::TempDir dir;
  const std::string path = (dir.path() / "rows.csv").string();
  std::ofstream(path) << "kept\n";
  AppendFile file;
  ASSERT_TRUE(file.Open(path));
  ASSERT_TRUE(file.Write(std::string(100 * 1024, 'x')));  // reaches the file unflushed
  file.Abandon();
  EXPECT_EQ(ReadFile(path), "kept\n");
  EXPECT_FALSE(file.Write("after"));
}

TEST(AppendFile, ClosesItsDescriptorOnEveryPath) {
  rw::testing::TempDir dir;
  const std::string path = (dir.path() / "f").string();
  const int before = OpenDescriptorCount();
  {
    AppendFile failed;
    EXPECT_FALSE(failed.Open((dir.path() / "missing" / "f").string()));
    EXPECT_EQ(failed.Error(), ENOENT);
  }
  {
    AppendFile twice;
    ASSERT_TRUE(twice.Open(path));
    EXPECT_FALSE(twice.Open(path));
    EXPECT_EQ(twice.Error(), EBUSY);
  }  // destroyed open
  {
    AppendFile abandoned;
    ASSERT_TRUE(abandoned.Open(path));
    abandoned.Abandon();
  }
  {
    AppendFile full;
    ASSERT_TRUE(full.Open("/dev/full"));
    EXPECT_TRUE(full.Write("x"));
    EXPECT_FALSE(full.Close());
  }
  EXPECT_EQ(OpenDescriptorCount(), before);
}

}  // namespace
}  // namespace rw::platform
