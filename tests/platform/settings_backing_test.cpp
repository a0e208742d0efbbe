#include "platform/settings_backing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "tests/support/open_descriptors.h"
#include "tests/support/temp_dir.h"

namespace rw::platform {
namespace {

using Status = SettingsBacking::ReadStatus;

TEST(SettingsBacking, WritesReadBackExactlyAndPrivately) {
  testing::TempDir dir;
  SettingsBacking backing(dir.path() / "a" / "b");
  ASSERT_TRUE(backing.CreateKey());
  struct stat st {};
  ASSERT_EQ(::stat((dir.path() / "a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  const std::string binary("x\0y\r\n", 5);
  ASSERT_TRUE(backing.WriteValue("Value", binary));
  auto read = backing.ReadValue("Value", 4096);
  EXPECT_EQ(read.status, Status::kOk);
  EXPECT_EQ(read.data, binary);
  ASSERT_EQ(::stat((backing.KeyDirectory() / "Value").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // An empty text is an empty file, not a missing value.
  ASSERT_TRUE(backing.WriteValue("Empty", ""));
  read = backing.ReadValue("Empty", 4096);
  EXPECT_EQ(read.status, Status::kOk);
  EXPECT_EQ(read.data, "");

  // Rewriting replaces the whole value and leaves no temporary files behind.
  ASSERT_TRUE(backing.WriteValue("Value", "short"));
  EXPECT_EQ(backing.ReadValue("Value", 4096).data, "short");
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(backing.KeyDirectory())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 2);
}

TEST(SettingsBacking, SizeLimitAndMissingStates) {
  testing::TempDir dir;
  SettingsBacking backing(dir.path() / "key");
  EXPECT_EQ(backing.ReadValue("Any", 10).status, Status::kKeyUnavailable);
  EXPECT_FALSE(backing.WriteValue("Any", "x"));  // no key, no write
  ASSERT_TRUE(backing.CreateKey());
  EXPECT_EQ(backing.ReadValue("Any", 10).status, Status::kValueMissing);

  ASSERT_TRUE(backing.WriteValue("Ten", std::string(10, 'a')));
  ASSERT_TRUE(backing.WriteValue("Eleven", std::string(11, 'a')));
  EXPECT_EQ(backing.ReadValue("Ten", 10).status, Status::kOk);
  EXPECT_EQ(backing.ReadValue("Eleven", 10).status, Status::kTooLarge);

  // Names are plain file names: nothing outside the key can be reached through them.
  EXPECT_FALSE(backing.WriteValue("../escape", "x"));
  EXPECT_FALSE(backing.WriteValue("..", "x"));
  EXPECT_EQ(backing.ReadValue("../key/Ten", 10).status, Status::kValueMissing);
}

TEST(SettingsBacking, KeyThatIsNotADirectoryCannotBeOpened) {
  testing::TempDir dir;
  std::ofstream(dir.path() / "key") << "file";
  SettingsBacking backing(dir.path() / "key");
  EXPECT_FALSE(backing.CreateKey());
  EXPECT_EQ(backing.ReadValue("Any", 10).status, Status::kKeyUnavailable);
  EXPECT_FALSE(backing.WriteValue("Any", "x"));
}

TEST(SettingsBacking, EveryReadAndWriteClosesWhatItOpened) {
  testing::TempDir dir;
  SettingsBacking backing(dir.path() / "key");
  const int before = testing::OpenDescriptorCount();
  (void)backing.ReadValue("Any", 10);  // key unavailable
  ASSERT_TRUE(backing.CreateKey());
  (void)backing.ReadValue("Any", 10);     // value missing
  (void)backing.ReadValue("../Any", 10);  // not a plain name
  ASSERT_TRUE(backing.WriteValue("Big", std::string(100, 'b')));
  EXPECT_EQ(backing.ReadValue("Big", 10).status, Status::kTooLarge);
  EXPECT_EQ(backing.ReadValue("Big", 100).status, Status::kOk);
  std::filesystem::create_directory(backing.KeyDirectory() / "Dir");
  EXPECT_EQ(backing.ReadValue("Dir", 10).status, Status::kValueMissing);  // read fails
  EXPECT_EQ(testing::OpenDescriptorCount(), before);
}

TEST(SettingsBacking, UnreadableKeyCannotBeOpened) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "root reads any directory";
  }
  testing::TempDir dir;
  SettingsBacking backing(dir.path() / "key");
  ASSERT_TRUE(backing.CreateKey());
  ASSERT_EQ(::chmod(backing.KeyDirectory().c_str(), 0), 0);
  EXPECT_EQ(backing.ReadValue("Any", 10).status, Status::kKeyUnavailable);
}

TEST(SettingsBacking, DefaultLocationFollowsTheEnvironment) {
  const char* saved = std::getenv("RELAYWATCH_CONFIG_DIR");
  const std::string keep = saved != nullptr ? saved : "";
  ::setenv("RELAYWATCH_CONFIG_DIR", "/tmp/rwconf", 1);
  EXPECT_EQ(SettingsBacking::DefaultKeyDirectory(),
            std::filesystem::path("/tmp/rwconf/HKEY_LOCAL_MACHINE/Software/Quillon/Relaywatch"));
  ::unsetenv("RELAYWATCH_CONFIG_DIR");
  const char* xdgSaved = std::getenv("XDG_CONFIG_HOME");
  const std::string xdgKeep = xdgSaved != nullptr ? xdgSaved : "";
  ::setenv("XDG_CONFIG_HOME", "/tmp/xdg", 1);
  EXPECT_EQ(
      SettingsBacking::DefaultKeyDirectory(),
      std::filesystem::path("/tmp/xdg/relaywatch/HKEY_LOCAL_MACHINE/Software/Quillon/Relaywatch"));
  if (xdgSaved != nullptr) {
    ::setenv("XDG_CONFIG_HOME", xdgKeep.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  if (saved != nullptr) {
    ::setenv("RELAYWATCH_CONFIG_DIR", keep.c_str(), 1);
  }
}

}  // namespace
}  // namespace rw::platform
