// The message boxes as real QMessageBox dialogs, run modally. GUI thread only.
#pragma once

#include "ui/message_presenter.h"

namespace rw::ui {

class MessageBoxPresenter : public MessagePresenter {
 public:
  void Message(QWidget* parent, const QString& text) override;
  void Information(QWidget* parent, const QString& text) override;
  bool ExitAnyway(QWidget* parent, const QString& text) override;
  void Error(QWidget* parent, const QString& text) override;
  void Fatal(QWidget* parent, const QString& text) override;
};

}  // namespace rw::ui
