// "Search for Text": asks for the text the Detail page's rows are searched for. A new dialog for
// every search, so the box starts empty. GUI thread only; modal, owned by its caller.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace rw::ui {

class SearchDialog : public QDialog {
  Q_OBJECT

 public:
  explicit SearchDialog(QWidget* parent = nullptr);

  // The text confirmed with Find; empty after Cancel, Escape or the close box.
  QString SearchText() const { return searchText; }

  // Runs a new dialog modally over `parent` and returns its search text.
  static QString Ask(QWidget* parent);

 private:
  QString searchText;
  QLineEdit* textBox = nullptr;
  QPushButton* findButton = nullptr;
  QPushButton* cancelButton = nullptr;
};

}  // namespace rw::ui
