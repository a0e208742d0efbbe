#include "ui/help_page.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"

namespace rw::ui {
namespace {

TEST(HelpPage, TheBuildTreeShipsItBesideTheExecutables) {
  // Test programs sit one level below the build root, as the program does in bin/.
  const QString page = HelpPage::Find();
  ASSERT_FALSE(page.isEmpty());
  QFile file(page);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray html = file.readAll();
  for (const char* topic : {"127.0.0.1", "8010", "CONNECT", "--headless", "Auto-Logging", "rwlog_",
                            "Max Data Retain"}) {
    EXPECT_TRUE(html.contains(topic)) << topic;
  }
}

// The page covers the Detail tab's tools and says truthfully what the proxy changes.
TEST(HelpPage, CoversTheDetailTabAndWhatTheProxyChanges) {
  QFile file(HelpPage::Find());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray html = file.readAll();
  for (const char* topic :
       {"id=\"detail\"", "Search", "Upper and lower case are the same", "Copy as curl",
        "Copy as curl through Relaywatch", "Export as HAR", "Fix Carriage Returns", "divider",
        "id=\"changes\"", "Accept-Encoding", "gzip", "--proxy-bypass-list='&lt;-loopback&gt;'"}) {
    EXPECT_TRUE(html.contains(topic)) << topic;
  }
  EXPECT_FALSE(html.contains("exactly as sent"));
}

TEST(HelpPage, InstalledLayoutFirstThenTheConfiguredDirectory) {
  rw::testing::TempDir dir;
  const std::filesystem::path bin = dir.path() / "prefix" / "bin";
  const std::filesystem::path installed = dir.path() / "elsewhere";
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(installed / "help");
  std::ofstream(installed / "help" / "index.html") << "<html></html>";
  const QString binDir = QString::fromStdString(bin.string());
  const QString installedDir = QString::fromStdString(installed.string());
  EXPECT_EQ(HelpPage::FindFrom(binDir, installedDir).toStdString(),
            (installed / "help" / "index.html").string());

  std::filesystem::create_directories(dir.path() / "prefix" / "share" / "relaywatch" / "help");
  std::ofstream(dir.path() / "prefix" / "share" / "relaywatch" / "help" / "index.html") << "<p>";
  EXPECT_EQ(HelpPage::FindFrom(binDir, installedDir).toStdString(),
            (dir.path() / "prefix" / "share" / "relaywatch" / "help" / "index.html").string());
  EXPECT_TRUE(HelpPage::FindFrom(binDir, QString()).endsWith("share/relaywatch/help/index.html"));
  EXPECT_TRUE(HelpPage::FindFrom(QStringLiteral("/nonexistent/bin"), QString()).isEmpty());
}

}  // namespace
}  // namespace rw::ui
