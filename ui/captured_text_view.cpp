#include "ui/captured_text_view.h"

#include "ui/message_presenter.h"
#include "ui/qt_text.h"
#include "ui/wait_cursor.h"

namespace rw::ui {
namespace {

// The text as the control holds it: each CR LF, CR and LF is one line break.
QString AsDisplayed(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QChar(u'\r'), QChar(u'\n'));
  return text;
}

}  // namespace

CapturedTextView::CapturedTextView(QWidget* parent) : QPlainTextEdit(parent) {
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  connect(this, &QPlainTextEdit::textChanged, this, [this] {
    if (!setting) {
      userEdited = true;
    }
  });
}

bool CapturedTextView::ShowText(std::string text) {
  if (!userEdited && text == shown) {
    return false;
  }
  const QString converted = ToQString(text);
  if (userEdited && AsDisplayed(converted) == toPlainText()) {
    shown = std::move(text);
    return false;
  }
  setting = true;
  setPlainText(converted);
  setting = false;
  userEdited = false;
  shown = std::move(text);
  return true;
}

void CapturedTextView::Blank() {
  ShowText(std::string());
}

bool CapturedTextView::CopyAll() {
  if (document()->isEmpty()) {
    return false;
  }
  selectAll();
  ensureCursorVisible();
  copy();
  return true;
}

void CapturedTextView::CopyAllAndSay(MessagePresenter& boxes, QWidget* owner) {
  bool copied = false;
  {
    WaitCursor wait;
    copied = CopyAll();
  }
  if (copied) {
    boxes.Information(owner, tr("Text in display window has been copied to clipboard"));
  }
}

}  // namespace rw::ui
