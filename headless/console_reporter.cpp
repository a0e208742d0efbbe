#include "headless/console_reporter.h"

#include "platform/signal_set.h"

namespace rw::headless {

ConsoleReporter::ConsoleReporter(std::FILE* stream) : out(stream) {}

void ConsoleReporter::Print(const std::string& text) {
  std::string line = "relaywatch: " + text;
  // Message texts end in blank lines when the error text is empty; keep one line end.
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
    line.pop_back();
  }
  line.push_back('\n');
  std::fputs(line.c_str(), out);
  std::fflush(out);
}

void ConsoleReporter::ShowError(const std::string& text) {
  Print(text);
}

void ConsoleReporter::ShowMessage(const std::string& text) {
  Print(text);
}

void ConsoleReporter::ListenFailed(int port, int errorNumber) {
  listenFailure = ListenFailure{true, port, errorNumber};
}

void ConsoleReporter::UpkeepDue() {
  platform::RaiseInProcess(platform::Signal::kUser2);
}

void ConsoleReporter::FatalError(const std::string& text) {
  Print(text);
  // The window would close here; without one, ask the runner to end as on Ctrl+C.
  if (!fatalSeen.exchange(true)) {
    platform::RaiseInProcess(platform::Signal::kTerminate);
  }
}

}  // namespace rw::headless
