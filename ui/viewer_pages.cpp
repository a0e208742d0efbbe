#include "ui/viewer_pages.h"

namespace rw::ui {

// Empty pages until the viewer pages are built.
Page* CreateRequestsPage(UiContext&, QWidget* parent) {
  return new Page(parent);
}
Page* CreateResponsesPage(UiContext&, QWidget* parent) {
  return new Page(parent);
}
Page* CreateDetailPage(UiContext&, QWidget* parent) {
  return new Page(parent);
}

}  // namespace rw::ui
