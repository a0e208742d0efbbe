// The Requests, Responses and Detail pages, created for the main window. GUI thread only; each
// page is owned by `parent`.
#pragma once

#include <functional>

#include "ui/page.h"
#include "ui/ui_context.h"

namespace rw::ui {

Page* CreateRequestsPage(UiContext& context, QWidget* parent);
Page* CreateResponsesPage(UiContext& context, QWidget* parent);
Page* CreateDetailPage(UiContext& context, QWidget* parent);

}  // namespace rw::ui

namespace rw::ui {

// How the main window makes the three viewer pages; tests put their own pages in.
struct ViewerPageMakers {
  using Maker = std::function<Page*(UiContext&, QWidget*)>;
  Maker requests = &CreateRequestsPage;
  Maker responses = &CreateResponsesPage;
  Maker detail = &CreateDetailPage;
};

}  // namespace rw::ui
