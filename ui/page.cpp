#include "ui/page.h"

namespace rw::ui {

Page::Page(QWidget* parent) : QWidget(parent) {}

}  // namespace rw::ui
