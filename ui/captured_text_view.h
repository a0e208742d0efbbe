// The multi-line text control of the viewer pages: captured text shown without wrapping, editable
// (typing is allowed and replaced by the next change), and remembering the text it was last given
// so an unchanged refresh leaves it alone. GUI thread only; owned by its page.
#pragma once

#include <QPlainTextEdit>
#include <string>

namespace rw::ui {

class MessagePresenter;

class CapturedTextView : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit CapturedTextView(QWidget* parent = nullptr);

  // Shows `text` (captured bytes read as UTF-8; invalid bytes show as U+FFFD). When the control
  // already shows exactly that text, nothing is touched (scroll position and selection stay) and
  // the result is false. The comparison is with the bytes last set, not with what the control
  // gives back, which has its CR LF turned into LF; after the user has typed, with the typed text.
  bool ShowText(std::string text);
  void Blank();

  // Selects the whole text, scrolls the caret into view and copies it to the clipboard. False, and
  // nothing done, when the control is empty.
  bool CopyAll();
  // CopyAll under the wait cursor, then a box on `owner` that says so. The box comes after the
  // cursor is back: it waits for the user, not for us.
  void CopyAllAndSay(MessagePresenter& boxes, QWidget* owner);

 private:
  std::string shown;        // the bytes last set
  bool userEdited = false;  // typed into since then
  bool setting = false;     // our own change is under way
};

}  // namespace rw::ui
