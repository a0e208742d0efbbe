#include "ui/search_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/named.h"

namespace rw::ui {
namespace {

constexpr int kWidthInCharacters = 66;

}  // namespace

SearchDialog::SearchDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Search for Text"));
  setModal(true);
  textBox = Named(new QLineEdit(this), "textBox");
  auto* hint = new QLabel(tr("Searches for request/response that contain the specified Text "
                             "String, and displays all request/response strings containing the "
                             "text."),
                          this);
  hint->setWordWrap(true);
  // The hint names the box for screen readers.
  hint->setBuddy(textBox);
  textBox->setAccessibleName(tr("Text to search for"));
  findButton = Named(new QPushButton(tr("&Find"), this), "findButton");
  findButton->setDefault(true);
  findButton->setAutoDefault(true);
  cancelButton = Named(new QPushButton(tr("Cancel"), this), "cancelButton");
  cancelButton->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(findButton);
  buttons->addWidget(cancelButton);
  buttons->addStretch();
  auto* column = new QVBoxLayout(this);
  column->addWidget(textBox);
  column->addWidget(hint);
  column->addLayout(buttons);
  // Wide enough for the hint to wrap onto a few lines at any font: 66 average characters.
  setMinimumWidth(fontMetrics().averageCharWidth() * kWidthInCharacters);

  connect(findButton, &QPushButton::clicked, this, [this] {
    searchText = textBox->text();
    accept();
  });
  connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

QString SearchDialog::Ask(QWidget* parent) {
  SearchDialog dialog(parent);
  dialog.exec();
  return dialog.SearchText();
}

}  // namespace rw::ui
