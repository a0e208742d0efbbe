#include "ui/about_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QPixmap>

#include "ui/named.h"
#include "ui/program_picture.h"

namespace rw::ui {

AboutPage::AboutPage(QWidget* parent) : Page(parent) {
  auto* picture = new QLabel(this);
  picture->setPixmap(QPixmap::fromImage(ProgramPicture::Render(160)));
  picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  picture->setAlignment(Qt::AlignCenter);
  // The program's name is not translated.
  picture->setAccessibleName(QStringLiteral("Relaywatch"));

  auto* name = new QLabel(QStringLiteral("Relaywatch"), this);
  QFont nameFont = name->font();
  nameFont.setPointSizeF(nameFont.pointSizeF() * 1.6);
  nameFont.setBold(true);
  name->setFont(nameFont);
  auto* purpose = new QLabel(tr("HTTP tracing proxy"), this);

  auto* versionLabel = new QLabel(tr("Version:"), this);
  auto* versionText = Named(new QLabel(QStringLiteral(RELAYWATCH_VERSION), this), "versionText");
  versionText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  versionLabel->setBuddy(versionText);

  auto* layout = new QGridLayout(this);
  layout->setRowStretch(0, 1);
  layout->setColumnStretch(0, 1);
  layout->addWidget(picture, 1, 1, 1, 2, Qt::AlignCenter);
  layout->addWidget(name, 2, 1, 1, 2, Qt::AlignCenter);
  layout->addWidget(purpose, 3, 1, 1, 2, Qt::AlignCenter);
  layout->addWidget(versionLabel, 4, 1, Qt::AlignRight);
  layout->addWidget(versionText, 4, 2, Qt::AlignLeft);
  layout->setColumnStretch(3, 1);
  layout->setRowStretch(5, 1);
}

}  // namespace rw::ui
