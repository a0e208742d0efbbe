#include "ui/message_box_presenter.h"

#include <QMessageBox>

namespace rw::ui {

void MessageBoxPresenter::Message(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Relaywatch"), text, QMessageBox::Ok,
                  parent);
  box.exec();
}

void MessageBoxPresenter::Error(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Crumbguard"), text, QMessageBox::Ok,
                  parent);
  box.exec();
}

void MessageBoxPresenter::Fatal(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Relaywatch"), text,
                  QMessageBox::Ok | QMessageBox::Cancel, parent);
  box.exec();
}

}  // namespace rw::ui
