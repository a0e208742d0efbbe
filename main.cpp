#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "headless/headless_runner.h"
#include "ui/desktop_runner.h"

int main(int argc, char** argv) {
  rw::app::CommandLine options;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::string program = argc > 0 ? argv[0] : "relaywatch";
  switch (options.Parse(args)) {
    case rw::app::CommandLine::ParseResult::kHelp:
      std::fputs(rw::app::CommandLine::Usage(program).c_str(), stdout);
      return 0;
    case rw::app::CommandLine::ParseResult::kVersion:
      std::printf("relaywatch %s\n", RELAYWATCH_VERSION);
      return 0;
    case rw::app::CommandLine::ParseResult::kError:
      std::fprintf(stderr, "relaywatch: %s\nTry '%s --help'.\n", options.error.c_str(),
                   program.c_str());
      return 2;
    case rw::app::CommandLine::ParseResult::kRun:
      break;
  }
  if (options.headless) {
    return rw::headless::HeadlessRunner(options).Run();
  }
  if (options.HasHeadlessOnlyOptions()) {
    std::fprintf(stderr,
                 "relaywatch: the options for one run need --headless; in the window, change "
                 "them on the Settings page.\n");
    return 2;
  }
  if (!rw::ui::DesktopRunner::DisplayAvailable(&std::getenv)) {
    std::fprintf(stderr,
                 "relaywatch: no display to open the window on (neither DISPLAY nor "
                 "WAYLAND_DISPLAY is set); run 'relaywatch --headless' instead.\n");
    return 2;
  }
  return rw::ui::DesktopRunner::Run(argc, argv);
}
