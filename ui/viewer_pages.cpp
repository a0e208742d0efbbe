#include "ui/viewer_pages.h"

#include "ui/detail_page.h"
#include "ui/text_stream_page.h"

namespace rw::ui {

Page* CreateRequestsPage(UiContext& context, QWidget* parent) {
  return new TextStreamPage(TextStreamPage::Stream::kRequests, context, parent);
}
Page* CreateResponsesPage(UiContext& context, QWidget* parent) {
  return new TextStreamPage(TextStreamPage::Stream::kResponses, context, parent);
}
Page* CreateDetailPage(UiContext& context, QWidget* parent) {
  return new DetailPage(context, parent);
}

}  // namespace rw::ui
