#include "ui/search_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace rw::ui {
namespace {

TEST(SearchDialog, FindTakesTheTextCancelLeavesItEmpty) {
  enum class Close { kFind, kEnter, kCancel, kEscape };
  for (const Close close : {Close::kFind, Close::kEnter, Close::kCancel, Close::kEscape}) {
    SCOPED_TRACE(static_cast<int>(close));
    SearchDialog dialog;
    dialog.show();
    auto* textBox = dialog.findChild<QLineEdit*>("textBox");
    auto* find = dialog.findChild<QPushButton*>("findButton");
    auto* cancel = dialog.findChild<QPushButton*>("cancelButton");
    ASSERT_TRUE(textBox != nullptr && find != nullptr && cancel != nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Search for Text");
    EXPECT_TRUE(textBox->text().isEmpty());
    EXPECT_TRUE(find->isDefault());
    EXPECT_EQ(find->text(), "&Find");
    EXPECT_EQ(cancel->text(), "Cancel");
    QTest::keyClicks(textBox, "Accept-Language");
    switch (close) {
      case Close::kFind:
        find->click();
        break;
      case Close::kEnter:
        QTest::keyClick(textBox, Qt::Key_Return);
        break;
      case Close::kCancel:
        cancel->click();
        break;
      case Close::kEscape:
        QTest::keyClick(&dialog, Qt::Key_Escape);
        break;
    }
    EXPECT_FALSE(dialog.isVisible());
    const bool found = close == Close::kFind || close == Close::kEnter;
    EXPECT_EQ(dialog.SearchText(), found ? "Accept-Language" : "");
  }
}

TEST(SearchDialog, HintNamesWhatIsSearched) {
  SearchDialog dialog;
  const QList<QLabel*> labels = dialog.findChildren<QLabel*>();
  ASSERT_EQ(labels.size(), 1);
  EXPECT_EQ(labels[0]->text(),
            "Searches for request/response that contain the specified Text String, and displays "
            "all request/response strings containing the text.");
  EXPECT_EQ(labels[0]->buddy(), dialog.findChild<QLineEdit*>("textBox"));
}

}  // namespace
}  // namespace rw::ui
