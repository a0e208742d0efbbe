// The Requests and Responses tabs: the running text of the most recent requests or responses as
// the store builds it, with Refresh, Clear, Copy and the Auto-Refresh box. One class for both
// twins; they differ only in the stream asked for. Tests find the controls by their object names.
// GUI thread only; owned by the main window.
#pragma once

#include "ui/page.h"
#include "ui/ui_context.h"

class QCheckBox;
class QPushButton;

namespace rw::ui {

class CapturedTextView;

class TextStreamPage : public Page {
  Q_OBJECT

 public:
  enum class Stream { kRequests, kResponses };

  TextStreamPage(Stream stream, UiContext& context, QWidget* parent = nullptr);

  // Asks the store for the stream's text and shows it unless it is already shown. A new text of
  // more than 5 lines is scrolled to its end; a shorter one shows from its top.
  void Refresh();
  // Refresh when the Auto-Refresh box is checked.
  void AutoRefreshIfEnabled();
  // Empties the store (which blanks every viewer page) and this page.
  void Clear();
  // Copies the whole text to the clipboard and says so; nothing on an empty control.
  void Copy();
  void Blank();

  void Selected() override { AutoRefreshIfEnabled(); }
  void TimerTick() override { AutoRefreshIfEnabled(); }
  void ShowClearedState() override { Blank(); }

 private:
  const Stream stream;
  UiContext& context;
  QPushButton* refreshButton = nullptr;
  QPushButton* clearButton = nullptr;
  QPushButton* copyButton = nullptr;
  QCheckBox* autoRefresh = nullptr;
  CapturedTextView* text = nullptr;
};

}  // namespace rw::ui
