#include "ui/text_stream_page.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "ui/captured_text_view.h"
#include "ui/named.h"

namespace rw::ui {
namespace {

// A new text longer than this many lines is scrolled so that its end shows.
constexpr int kLinesShownFromTop = 5;
// Between the button strip and the text control.
constexpr int kStripGap = 10;
constexpr int kMargin = 7;

}  // namespace

TextStreamPage::TextStreamPage(Stream shown, UiContext& uiContext, QWidget* parent)
    : Page(parent), stream(shown), context(uiContext) {
  refreshButton = Named(new QPushButton(tr("&Refresh"), this), "refreshButton");
  clearButton = Named(new QPushButton(tr("Cle&ar"), this), "clearButton");
  copyButton = Named(new QPushButton(tr("&Copy"), this), "copyButton");
  autoRefresh = Named(new QCheckBox(tr("Auto-Refresh (every 4 seconds)"), this), "autoRefresh");
  autoRefresh->setChecked(true);
  text = Named(new CapturedTextView(this), "text");
  text->setAccessibleName(shown == Stream::kRequests ? tr("Requests") : tr("Responses"));

  auto* strip = new QHBoxLayout;
  strip->setContentsMargins(kMargin, kMargin, kMargin, 0);
  strip->addWidget(refreshButton);
  strip->addWidget(clearButton);
  strip->addWidget(copyButton);
  strip->addSpacing(kMargin);
  strip->addWidget(autoRefresh);
  strip->addStretch();
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(kStripGap);
  column->addLayout(strip);
  column->addWidget(text, 1);

  connect(refreshButton, &QPushButton::clicked, this, &TextStreamPage::Refresh);
  connect(clearButton, &QPushButton::clicked, this, &TextStreamPage::Clear);
  connect(copyButton, &QPushButton::clicked, this, &TextStreamPage::Copy);
}

void TextStreamPage::Refresh() {
  capture::ConversationStore& store = context.app.Store();
  std::string latest =
      stream == Stream::kRequests ? store.GetNewRequestData() : store.GetNewResponseData();
  if (!text->ShowText(std::move(latest))) {
    return;
  }
  if (text->blockCount() > kLinesShownFromTop) {
    QScrollBar* bar = text->verticalScrollBar();
    bar->setValue(bar->maximum());
  }
}

void TextStreamPage::AutoRefreshIfEnabled() {
  if (autoRefresh->isChecked()) {
    Refresh();
  }
}

void TextStreamPage::Clear() {
  context.app.Store().Clear();
  Blank();
}

void TextStreamPage::Copy() {
  text->CopyAllAndSay(context.boxes, this);
}

void TextStreamPage::Blank() {
  text->Blank();
}

}  // namespace rw::ui
