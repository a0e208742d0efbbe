#include "platform/private_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/file_text.h"
#include "tests/support/temp_dir.h"

namespace rw::platform {
namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0xffffu;
}

TEST(PrivateFile, CreatesWithTheExactModeAndNeverOverAnythingThere) {
  testing::TempDir temp;
  const mode_t old = ::umask(0277);
  const SysCallResult made = CreateFileExclusive((temp.path() / "k").string(), 0600, "secret");
  const SysCallResult shown = CreateFileExclusive((temp.path() / "c").string(), 0644, "public");
  ::umask(old);
  ASSERT_TRUE(made.Ok()) << made.errorNumber;
  ASSERT_TRUE(shown.Ok());
  EXPECT_EQ(ModeOf(temp.path() / "k"), 0600u);
  EXPECT_EQ(ModeOf(temp.path() / "c"), 0644u);
  EXPECT_EQ(testing::ReadFile(temp.path() / "k"), "secret");

  // An existing file, and a link to a place that does not exist yet, both stay as they are.
  const SysCallResult again = CreateFileExclusive((temp.path() / "k").string(), 0600, "other");
  EXPECT_EQ(again.errorNumber, EEXIST);
  EXPECT_EQ(testing::ReadFile(temp.path() / "k"), "secret");
  fs::create_symlink(temp.path() / "target", temp.path() / "link");
  EXPECT_EQ(CreateFileExclusive((temp.path() / "link").string(), 0600, "x").errorNumber, EEXIST);
  EXPECT_FALSE(fs::exists(temp.path() / "target"));
}

TEST(PrivateFile, ReadsWithTheFactsToJudgeIt) {
  testing::TempDir temp;
  const fs::path file = temp.path() / "f";
  std::ofstream(file) << "0123456789";
  fs::permissions(file, fs::perms(0640));
  fs::create_symlink(file, temp.path() / "link");
  ASSERT_EQ(::mkfifo((temp.path() / "fifo").c_str(), 0600), 0);

  const ReadFileResult read = ReadWholeFile(file.string(), 10, LinkRule::kRefuse);
  ASSERT_TRUE(read.Ok());
  EXPECT_EQ(read.data, "0123456789");
  EXPECT_EQ(read.facts.permissions, 0640u);
  EXPECT_EQ(read.facts.owner, CurrentUser());

  struct Row {
    const char* name;
    fs::path path;
    size_t limit;
    LinkRule links;
    int error;
  };
  // Larger than the reader's first buffer: read whole at exactly its limit, refused one below.
  const fs::path large = temp.path() / "large";
  const std::string bytes(200'000, 'x');
  std::ofstream(large) << bytes;
  const ReadFileResult whole = ReadWholeFile(large.string(), bytes.size(), LinkRule::kRefuse);
  ASSERT_TRUE(whole.Ok()) << whole.errorNumber;
  EXPECT_EQ(whole.data, bytes);
  EXPECT_EQ(ReadWholeFile(large.string(), bytes.size() - 1, LinkRule::kRefuse).errorNumber, EFBIG);

  const Row rows[] = {
      {"too large", file, 9, LinkRule::kRefuse, EFBIG},
      {"link refused", temp.path() / "link", 64, LinkRule::kRefuse, ELOOP},
      {"link followed", temp.path() / "link", 64, LinkRule::kFollow, 0},
      {"missing", temp.path() / "none", 64, LinkRule::kFollow, ENOENT},
      {"directory", temp.path(), 64, LinkRule::kFollow, EINVAL},
      {"fifo, without blocking", temp.path() / "fifo", 64, LinkRule::kFollow, EINVAL},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ReadWholeFile(row.path.string(), row.limit, row.links).errorNumber, row.error);
  }
}

TEST(PrivateFile, PrivateDirectoryIsCreatedOrNarrowedButNeverALink) {
  testing::TempDir temp;
  const fs::path made = temp.path() / "made";
  ASSERT_TRUE(EnsurePrivateDirectory(made.string()).Ok());
  EXPECT_EQ(ModeOf(made), 0700u);

  const fs::path open = temp.path() / "open";
  fs::create_directory(open);
  fs::permissions(open, fs::perms(0755));
  ASSERT_TRUE(EnsurePrivateDirectory(open.string()).Ok());
  EXPECT_EQ(ModeOf(open), 0700u);

  fs::create_directory_symlink(open, temp.path() / "link");
  fs::permissions(open, fs::perms(0755));
  EXPECT_EQ(EnsurePrivateDirectory((temp.path() / "link").string()).errorNumber, ENOTDIR);
  EXPECT_EQ(ModeOf(open), 0755u);  // not changed through the link
  std::ofstream(temp.path() / "file") << "x";
  EXPECT_EQ(EnsurePrivateDirectory((temp.path() / "file").string()).errorNumber, ENOTDIR);
  EXPECT_FALSE(EnsurePrivateDirectory((temp.path() / "no" / "parent").string()).Ok());
}

}  // namespace
}  // namespace rw::platform
