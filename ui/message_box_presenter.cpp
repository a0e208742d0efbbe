#include "ui/message_box_presenter.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

namespace rw::ui {
namespace {

// Runs the box modally. A box asked for during a long operation (under the wait cursor) shows the
// normal pointer while it is up.
void Run(QMessageBox& box) {
  const bool busy = QGuiApplication::overrideCursor() != nullptr;
  if (busy) {
    QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
  }
  box.exec();
  if (busy) {
    QGuiApplication::restoreOverrideCursor();
  }
}

}  // namespace

void MessageBoxPresenter::Message(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Relaywatch"), text, QMessageBox::Ok,
                  parent);
  Run(box);
}

void MessageBoxPresenter::Information(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Information, QStringLiteral("Relaywatch"), text, QMessageBox::Ok,
                  parent);
  Run(box);
}

bool MessageBoxPresenter::ExitAnyway(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Relaywatch"), text, QMessageBox::Cancel,
                  parent);
  QPushButton* exit = box.addButton(QObject::tr("E&xit Anyway"), QMessageBox::DestructiveRole);
  box.setDefaultButton(QMessageBox::Cancel);
  box.setEscapeButton(QMessageBox::Cancel);
  Run(box);
  return box.clickedButton() == exit;
}

void MessageBoxPresenter::Error(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Crumbguard"), text, QMessageBox::Ok,
                  parent);
  Run(box);
}

void MessageBoxPresenter::Fatal(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Relaywatch"), text,
                  QMessageBox::Ok | QMessageBox::Cancel, parent);
  Run(box);
}

}  // namespace rw::ui
