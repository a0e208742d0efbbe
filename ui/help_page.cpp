#include "ui/help_page.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace rw::ui {

QString HelpPage::Find() {
  return FindFrom(QCoreApplication::applicationDirPath(),
                  QStringLiteral(RELAYWATCH_INSTALLED_DATA_DIR));
}

QString HelpPage::FindFrom(const QString& executableDir, const QString& installedDataDir) {
  const QString relative = QString::fromLatin1(kRelativePath);
  const QString candidates[] = {
      QDir(executableDir).filePath(QStringLiteral("../share/relaywatch/") + relative),
      QDir(installedDataDir).filePath(relative),
  };
  for (const QString& candidate : candidates) {
    if (QFileInfo(candidate).isFile()) {
      return QFileInfo(candidate).canonicalFilePath();
    }
  }
  return {};
}

}  // namespace rw::ui
