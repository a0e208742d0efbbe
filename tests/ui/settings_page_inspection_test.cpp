#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "tests/support/file_text.h"
#include "tests/support/stand_in_browser.h"
#include "tests/ui/ui_fixture.h"
#include "tls/certificate_fingerprint.h"
#include "ui/settings_page.h"

namespace rw::ui {
namespace {

using rw::testing::ReadFile;
using rw::testing::StandInBrowser;
using testing::Box;
using ::testing::HasSubstr;
using ::testing::Not;

class SettingsInspectionTest : public testing::UiFixture {
 protected:
  SettingsPage::Controls Page() { return testing::SettingsControls(*window->Settings()); }
  std::string Stored(const char* name) { return app->Settings().ReadSetting(name); }
  void TurnOn() {
    QTest::mouseClick(Page().inspectHttps, Qt::LeftButton);
    QTest::mouseClick(Page().apply, Qt::LeftButton);
  }
};

TEST_F(SettingsInspectionTest, ApplySavesTheValuesAndStartsOrStopsInspection) {
  OpenWindow();
  const auto& c = Page();
  EXPECT_FALSE(c.inspectHttps->isChecked());
  EXPECT_FALSE(app->Inspection().On());
  EXPECT_FALSE(c.exportCa->isEnabled());
  c.noInspectHosts->setText(" pinned.example, *.bank.example ");
  TurnOn();
  EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes[0].text;
  EXPECT_EQ(Stored("InspectHttps"), "1");
  EXPECT_EQ(Stored("NoInspectHosts"), "pinned.example, *.bank.example");
  ASSERT_TRUE(app->Inspection().On());
  EXPECT_TRUE(app->Inspection().noInspect.Matches("www.bank.example"));
  EXPECT_EQ(c.caFingerprint->text().toStdString(),
            tls::CertificateSha256Fingerprint(app->Inspection().authority->Certificate()));
  EXPECT_TRUE(c.exportCa->isEnabled());

  QTest::mouseClick(c.inspectHttps, Qt::LeftButton);
  QTest::mouseClick(c.apply, Qt::LeftButton);
  EXPECT_EQ(Stored("InspectHttps"), "0");
  EXPECT_FALSE(app->Inspection().On());
  EXPECT_FALSE(c.exportCa->isEnabled());
}

TEST_F(SettingsInspectionTest, StoredValuesAreShownAndBadOnesReportedAtStart) {
  backing.WriteValue("InspectHttps", "1");
  backing.WriteValue("UpstreamCaFile", (dir.path() / "missing.pem").string());
  OpenWindow();
  const auto& c = Page();
  EXPECT_TRUE(c.inspectHttps->isChecked());
  EXPECT_EQ(c.upstreamCaFile->text().toStdString(), (dir.path() / "missing.pem").string());
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, Box::kMessage);
  EXPECT_THAT(boxes.boxes[0].text, HasSubstr("HTTPS inspection cannot start: "));
  EXPECT_THAT(boxes.boxes[0].text, HasSubstr("missing.pem"));
  EXPECT_FALSE(app->Inspection().On());
}

TEST_F(SettingsInspectionTest, ExportWritesTheCertificateAndNotTheKey) {
  OpenWindow();
  TurnOn();
  ASSERT_TRUE(app->Inspection().On());
  const std::filesystem::path out = dir.path() / "exported.pem";
  window->Settings()->SetExportPathChooser([&](QWidget*) { return ToQString(out.string()); });
  QTest::mouseClick(Page().exportCa, Qt::LeftButton);
  const std::string text = ReadFile(out);
  EXPECT_EQ(text, ReadFile(app->Inspection().authority->CertificatePath()));
  EXPECT_THAT(text, Not(HasSubstr("PRIVATE KEY")));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, Box::kInformation);
  EXPECT_THAT(boxes.boxes[0].text, HasSubstr(out.string()));

  boxes.boxes.clear();  // a cancelled dialog writes nothing and says nothing
  window->Settings()->SetExportPathChooser([](QWidget*) { return QString(); });
  QTest::mouseClick(Page().exportCa, Qt::LeftButton);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(SettingsInspectionTest, OpenBrowserShowsWhatTheLauncherSaid) {
  OpenWindow();
  TurnOn();
  const struct {
    const char* name;
    bool install;
    StandInBrowser::Behaviour behaviour;
    Box::Kind kind;
    const char* says;
  } rows[] = {
      {"runs", true, StandInBrowser::Behaviour::kRuns, Box::kInformation,
       "trusting the Relaywatch CA"},
      {"fails", true, StandInBrowser::Behaviour::kFails, Box::kMessage, "without --no-sandbox"},
      {"none", false, StandInBrowser::Behaviour::kRuns, Box::kMessage, "No browser found"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    StandInBrowser browser;
    if (row.install) {
      browser.Install("chromium", row.behaviour);
    }
    boxes.boxes.clear();
    QTest::mouseClick(Page().openBrowser, Qt::LeftButton);
    EXPECT_TRUE(boxes.boxes.empty()) << "the click waited for the outcome";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.boxes.empty(); }, 20000));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, row.kind);
    EXPECT_THAT(boxes.boxes[0].text, HasSubstr(row.says));
    if (row.install && row.behaviour == StandInBrowser::Behaviour::kRuns) {
      const std::vector<std::string> args = browser.Arguments();
      EXPECT_THAT(args,
                  ::testing::Contains("--proxy-server=http://127.0.0.1:" + std::to_string(port)));
      EXPECT_THAT(args, ::testing::Contains(
                            "--ignore-certificate-errors-spki-list=" +
                            tls::SpkiSha256Base64(app->Inspection().authority->Certificate())));
      // The profile goes with the browser, also when the window started it.
      std::string profile;
      for (const std::string& arg : args) {
        if (arg.rfind("--user-data-dir=", 0) == 0) {
          profile = arg.substr(16);
        }
      }
      ASSERT_FALSE(profile.empty());
      EXPECT_TRUE(std::filesystem::exists(profile));
      browser.Stop();
      EXPECT_TRUE(QTest::qWaitFor([&] { return !std::filesystem::exists(profile); }, 20000));
    }
  }
}

TEST_F(SettingsInspectionTest, NewControlsAreNamedAndHaveTheirOwnMnemonics) {
  OpenWindow();
  const auto& c = Page();
  for (QWidget* field : std::initializer_list<QWidget*>{
           c.inspectHttps, c.exportCa, c.noInspectHosts, c.upstreamCaFile, c.openBrowser}) {
    SCOPED_TRACE(field->metaObject()->className());
    EXPECT_FALSE(field->accessibleName().isEmpty());
    EXPECT_NE(field->focusPolicy() & Qt::TabFocus, 0);
  }
  // Every mnemonic on the page is used once.
  std::map<QChar, QString> seen;
  auto check = [&](const QString& text) {
    const int at = text.indexOf(QLatin1Char('&'));
    if (at < 0 || at + 1 >= text.size() || text[at + 1] == QLatin1Char(' ')) {
      return;
    }
    const QChar key = text[at + 1].toLower();
    EXPECT_FALSE(seen.count(key)) << text.toStdString() << " and " << seen[key].toStdString();
    seen[key] = text;
  };
  for (QLabel* label : window->Settings()->findChildren<QLabel*>()) {
    check(label->text());
  }
  for (QAbstractButton* button : window->Settings()->findChildren<QAbstractButton*>()) {
    if (button != c.logNow) {  // Log and Clear shares L with Auto-Logging, as it always has
      check(button->text());
    }
  }
}

}  // namespace
}  // namespace rw::ui
