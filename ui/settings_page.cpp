#include "ui/settings_page.h"

namespace rw::ui {

SettingsPage::SettingsPage(UiContext& context, QWidget* parent) : Page(parent), context(context) {
  context.app.LoadSettings();
  context.app.ApplySettings(context.app.Form(), {.save = true, .listen = true});
}

}  // namespace rw::ui
