#include "ui/splash_window.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/program_picture.h"

namespace rw::ui {

SplashWindow::SplashWindow(QWidget* owner)
    : QFrame(owner, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  setAccessibleName(QStringLiteral("Relaywatch"));

  auto* picture = new QLabel(this);
  picture->setPixmap(QPixmap::fromImage(ProgramPicture::Render(128)));
  picture->setAlignment(Qt::AlignCenter);

  auto* title = new QLabel(QStringLiteral("Relaywatch"), this);
  QFont titleFont = title->font();
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
  titleFont.setBold(true);
  title->setFont(titleFont);
  title->setAlignment(Qt::AlignCenter);

  auto* versionRow = new QHBoxLayout;
  versionRow->addStretch();
  versionRow->addWidget(new QLabel(tr("Version:"), this));
  versionRow->addWidget(new QLabel(QStringLiteral(RELAYWATCH_VERSION), this));
  versionRow->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(28, 20, 28, 20);
  layout->addWidget(picture);
  layout->addWidget(title);
  layout->addLayout(versionRow);
}

void SplashWindow::ShowCentred() {
  adjustSize();
  const QWidget* owner = parentWidget();
  QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
  if (screen != nullptr) {
    QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  show();
  repaint();
}

}  // namespace rw::ui
