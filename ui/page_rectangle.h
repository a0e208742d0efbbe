// Where the main window puts its pages: below the tab strip, inside the window's client area.
#pragma once

#include <QRect>

namespace rw::ui {

// The page rectangle from the client rectangle and tab 0's header rectangle (both in window
// coordinates): left = header left, top = header bottom + 1, width = client right - header left
// - 1, height = client bottom - (header bottom + 1) - 1. Empty when the window is too small.
QRect PageRectangle(const QRect& client, const QRect& firstTabHeader);

}  // namespace rw::ui
