// One page of the main window's tabs. The window drives every page through these calls only, so
// a page plugs in without changes to the window. GUI thread only; owned by the main window.
#pragma once

#include <QWidget>

namespace rw::ui {

class Page : public QWidget {
  Q_OBJECT

 public:
  explicit Page(QWidget* parent = nullptr);

  // The user selected this page's tab (it was not already current).
  virtual void Selected() {}
  // The 4000 ms timer fired while this page's tab is current.
  virtual void TimerTick() {}
  // The store was cleared: show the cleared state (counters, blank texts, empty lists).
  virtual void ShowClearedState() {}
  // The window is closing: drop what the page holds from the store.
  virtual void Closing() {}
};

}  // namespace rw::ui
