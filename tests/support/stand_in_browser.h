// A stand-in browser for tests: a shell script of a browser's name in a private folder that is put
// first on PATH (and alone, so no real browser is found). It records its arguments one per line,
// notes whether its profile folder exists, and runs until the test asks it to stop.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/file_text.h"
#include "tests/support/temp_dir.h"

namespace rw::testing {

class StandInBrowser {
 public:
  // `behaviour`: kRuns keeps running until Stop(); kFails writes to stderr and exits 1 at once.
  enum class Behaviour { kRuns, kFails };

  StandInBrowser() {
    const char* path = ::getenv("PATH");
    savedPath = path != nullptr ? path : "";
    std::filesystem::create_directory(Bin());
    ::setenv("PATH", Bin().c_str(), 1);
  }
  ~StandInBrowser() {
    Stop();
    ::setenv("PATH", savedPath.c_str(), 1);
  }
  StandInBrowser(const StandInBrowser&) = delete;
  StandInBrowser& operator=(const StandInBrowser&) = delete;

  void Install(const std::string& name, Behaviour behaviour) {
    const std::filesystem::path script = Bin() / name;
    std::ofstream out(script);
    out << "#!/bin/sh\n"
        << "PATH=/usr/bin:/bin\n"
        << "for a in \"$@\"; do printf '%s\\n' \"$a\" >> '" << Record().string() << "'; done\n"
        << "for a in \"$@\"; do case \"$a\" in --user-data-dir=*) d=\"${a#--user-data-dir=}\";; "
           "esac; done\n"
        << "[ -z \"$d\" ] && [ \"$1\" = -profile ] && d=\"$2\"\n"
        << "if [ -n \"$d\" ] && [ -d \"$d\" ]; then stat -c %a \"$d\" > '"
        << (dir.path() / "profile-mode").string() << "'; "
        << "cp \"$d/user.js\" '" << (dir.path() / "user.js").string() << "' 2>/dev/null; fi\n";
    if (behaviour == Behaviour::kFails) {
      out << "echo 'Running as root without --no-sandbox is not supported.' >&2\nexit 1\n";
    } else {
      out << "while [ ! -e '" << StopFile().string() << "' ]; do sleep 0.05; done\n";
    }
    out.close();
    ::chmod(script.c_str(), 0755);
  }

  void Stop() { std::ofstream(StopFile()) << "stop\n"; }

  std::vector<std::string> Arguments() const {
    std::vector<std::string> lines;
    std::string text = ReadFile(Record());
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      lines.push_back(text.substr(start, end - start));
    }
    return lines;
  }
  // The profile folder's mode as the stand-in saw it ("700"); empty if it saw none.
  std::string ProfileMode() const {
    std::string mode = ReadFile(dir.path() / "profile-mode");
    return mode.empty() ? mode : mode.substr(0, mode.find('\n'));
  }
  std::string FirefoxPreferences() const { return ReadFile(dir.path() / "user.js"); }
  std::filesystem::path Bin() const { return dir.path() / "bin"; }

 private:
  std::filesystem::path Record() const { return dir.path() / "arguments"; }
  std::filesystem::path StopFile() const { return dir.path() / "stop"; }

  TempDir dir;
  std::string savedPath;
};

}  // namespace rw::testing
