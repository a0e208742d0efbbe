#include "platform/directory_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "tests/support/temp_dir.h"

namespace rw::platform {
namespace {

TEST(DirectoryCheck, SaysWhatIsWrong) {
  rw::testing::TempDir dir;
  const std::string root = dir.path().string();
  std::ofstream(root + "/file") << "x";
  EXPECT_EQ(CheckDirectory(root).state, DirectoryState::kUsable);
  EXPECT_EQ(CheckDirectory(root + "/missing").state, DirectoryState::kMissing);
  EXPECT_EQ(CheckDirectory(root + "/file/below").state, DirectoryState::kMissing);
  EXPECT_EQ(CheckDirectory(root + "/file").state, DirectoryState::kNotADirectory);

  ASSERT_EQ(::mkdir((root + "/locked").c_str(), 0500), 0);
  if (::geteuid() == 0) {
    GTEST_SKIP() << "root may write into any directory";
  }
  const DirectoryCheck locked = CheckDirectory(root + "/locked");
  EXPECT_EQ(locked.state, DirectoryState::kNotWritable);
  EXPECT_EQ(locked.errorNumber, EACCES);
}

}  // namespace
}  // namespace rw::platform
