// Build step: renders the program's picture as the desktop icon, one PNG per size, into
// <dir>/<size>x<size>/apps/relaywatch.png. Usage: rw_icon_tool DIR SIZE...
#include <QDir>
#include <QImage>
#include <cstdio>
#include <cstdlib>

#include "ui/program_picture.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DIR SIZE...\n", argv[0]);
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
    if (size <= 0 || !QDir().mkpath(dir) ||
        !rw::ui::ProgramPicture::Render(size).save(dir + QStringLiteral("/relaywatch.png"))) {
      std::fprintf(stderr, "%s: cannot write the %s pixel icon under %s\n", argv[0], argv[i],
                   argv[1]);
      return 1;
    }
  }
  return 0;
}
