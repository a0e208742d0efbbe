// Finds the HTML help page shipped with the program.
#pragma once

#include <QString>

namespace rw::ui {

class HelpPage {
 public:
  // The page's file name under the data directory.
  static constexpr const char* kRelativePath = "help/index.html";

  // The first existing page among: <executable dir>/../share/relaywatch/ (installed, and the
  // build tree, which mirrors the installed layout), then the configured install directory.
  // Empty when there is none.
  static QString Find();
  // As Find, with the executable's directory and the install directory given.
  static QString FindFrom(const QString& executableDir, const QString& installedDataDir);
};

}  // namespace rw::ui
