#include "ui/desktop_help_launcher.h"

#include <QDesktopServices>
#include <QUrl>

#include "ui/help_page.h"

namespace rw::ui {

void DesktopHelpLauncher::OpenHelp() {
  const QString page = HelpPage::Find();
  if (!page.isEmpty()) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(page));
  }
}

}  // namespace rw::ui
