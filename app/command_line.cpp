#include "app/command_line.h"

#include <optional>
#include <string_view>
#include <utility>

#include "app/settings_form.h"
#include "text/number_parsers.h"
#include "tls/host_pattern.h"

namespace rw::app {
namespace {

// At most nine digits: every value the options take fits in 32 bits.
bool IsDecimal(const std::string& text) {
  return text.size() <= 9 && text::DecimalDigits(text).has_value();
}

bool IsPortNumber(const std::string& text) {
  const std::optional<int64_t> port = IsDecimal(text) ? text::DecimalDigits(text) : std::nullopt;
  return port && *port >= 1 && *port <= 65535;
}

using Result = CommandLine::ParseResult;
using Value = std::optional<std::string>;

Result Fail(CommandLine& line, std::string text) {
  line.error = std::move(text);
  return Result::kError;
}

// What an option does with a value: none allowed, one needed (after '=' or as the next
// argument, whatever it looks like), or any value after '=' ignored.
enum class ValueRule { kNone, kRequired, kIgnored };

// Records one option in the command line; the value is there only as its ValueRule allows. Any
// result but kRun ends the parse.
using Handler = Result (*)(CommandLine& line, const Value& value);

struct Option {
  std::string_view name;
  std::string_view shortName;  // empty when there is none
  ValueRule value;
  Handler handle;
};

template <bool CommandLine::*Flag>
Result SetFlag(CommandLine& line, const Value& /*value*/) {
  line.*Flag = true;
  return Result::kRun;
}

Result Help(CommandLine& /*line*/, const Value& /*value*/) {
  return Result::kHelp;
}

Result Version(CommandLine& /*line*/, const Value& /*value*/) {
  return Result::kVersion;
}

Result SetHarFile(CommandLine& line, const Value& value) {
  if (!value || value->empty()) {
    return Fail(line, "--har needs a file name");
  }
  line.harFile = *value;
  return Result::kRun;
}

Result SetPort(CommandLine& line, const Value& value) {
  if (!value || !IsPortNumber(*value)) {
    return Fail(line, "--port needs a port number from 1 to 65535");
  }
  line.port = *value;
  return Result::kRun;
}

Result SetProxy(CommandLine& line, const Value& value) {
  const auto colon = value ? value->rfind(':') : std::string::npos;
  if (!value || colon == std::string::npos || colon == 0 ||
      !IsPortNumber(value->substr(colon + 1))) {
    return Fail(line, "--proxy needs HOST:PORT");
  }
  line.proxyHost = value->substr(0, colon);
  line.proxyPort = value->substr(colon + 1);
  return Result::kRun;
}

Result SetLogDir(CommandLine& line, const Value& value) {
  if (!value || value->empty()) {
    return Fail(line, "--log-dir needs a directory");
  }
  line.logDir = *value;
  return Result::kRun;
}

Result SetMaxMB(CommandLine& line, const Value& value) {
  if (!value || !IsDecimal(*value)) {
    return Fail(line, "--max-mb needs a number of megabytes");
  }
  line.maxMB = *value;
  return Result::kRun;
}

Result SetUpstreamCa(CommandLine& line, const Value& value) {
  if (!value || value->empty()) {
    return Fail(line, "--upstream-ca needs a file of PEM certificates");
  }
  line.upstreamCaFile = *value;
  return Result::kRun;
}

Result SetNoInspect(CommandLine& line, const Value& value) {
  if (!value) {
    return Fail(line, "--no-inspect needs HOST[,HOST...]");
  }
  if (const tls::HostPatternList::ParseResult hosts = tls::HostPatternList::Parse(*value);
      !hosts.Ok()) {
    return Fail(line, "--no-inspect: " + hosts.error);
  }
  line.noInspectHosts = *value;
  return Result::kRun;
}

// Help and version end the parse at once, before any later argument is looked at.
constexpr Option kOptions[] = {
    {"--help", "-h", ValueRule::kIgnored, &Help},
    {"--version", "-V", ValueRule::kIgnored, &Version},
    {"--headless", "", ValueRule::kNone, &SetFlag<&CommandLine::headless>},
    {"--quiet", "-q", ValueRule::kNone, &SetFlag<&CommandLine::quiet>},
    {"--har", "", ValueRule::kRequired, &SetHarFile},
    {"--auto-log", "", ValueRule::kNone, &SetFlag<&CommandLine::autoLog>},
    {"--port", "", ValueRule::kRequired, &SetPort},
    {"--proxy", "", ValueRule::kRequired, &SetProxy},
    {"--log-dir", "", ValueRule::kRequired, &SetLogDir},
    {"--max-mb", "", ValueRule::kRequired, &SetMaxMB},
    {"--inspect-https", "", ValueRule::kNone, &SetFlag<&CommandLine::inspectHttps>},
    {"--open-browser", "", ValueRule::kNone, &SetFlag<&CommandLine::openBrowser>},
    {"--upstream-ca", "", ValueRule::kRequired, &SetUpstreamCa},
    {"--no-inspect", "", ValueRule::kRequired, &SetNoInspect},
};

const Option* FindOption(const std::string& name) {
  for (const Option& option : kOptions) {
    if (name == option.name || (!option.shortName.empty() && name == option.shortName)) {
      return &option;
    }
  }
  return nullptr;
}

}  // namespace

// Long options may carry their value after '=' (--port=8080); short ones never do.
CommandLine::ParseResult CommandLine::Parse(const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    Value value;
    if (name.rfind("--", 0) == 0) {
      if (const auto eq = name.find('='); eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
      }
    }
    const Option* option = FindOption(name);
    if (option == nullptr) {
      return Fail(*this, "unknown option: " + name);
    }
    if (option->value == ValueRule::kNone && value) {
      return Fail(*this, "option " + name + " takes no value");
    }
    if (option->value == ValueRule::kRequired && !value && i + 1 < args.size()) {
      value = args[++i];
    }
    if (const ParseResult result = option->handle(*this, value); result != ParseResult::kRun) {
      return result;
    }
  }
  return ParseResult::kRun;
}

bool CommandLine::HasOverrides() const {
  return port || proxyHost || logDir || maxMB || autoLog;
}

bool CommandLine::HasHeadlessOnlyOptions() const {
  return HasOverrides() || harFile.has_value() || quiet || inspectHttps ||
         upstreamCaFile.has_value() || noInspectHosts.has_value() || openBrowser;
}

void CommandLine::ApplyOverrides(SettingsForm& form) const {
  if (port) {
    form.port = *port;
  }
  if (proxyHost) {
    form.proxyHost = *proxyHost;
    form.proxyPort = proxyPort.value_or("");
  }
  if (logDir) {
    form.logDir = *logDir;
  }
  if (maxMB) {
    form.maxMB = *maxMB;
  }
  if (autoLog) {
    form.autoLog = true;
  }
}

std::string CommandLine::Usage(const std::string& program) {
  return "Usage: " + program +
         " --headless [options]\n"
         "HTTP tracing proxy: relays a browser's traffic and captures every exchange.\n"
         "\n"
         "  --headless        run the proxy without a window (Ctrl+C, SIGTERM or SIGHUP to\n"
         "                    stop; SIGUSR1 writes the logs now and clears)\n"
         "  --port N          listen on 127.0.0.1:N for this run\n"
         "  --proxy HOST:PORT forward through an upstream proxy for this run\n"
         "  --log-dir DIR     write the log files into DIR for this run\n"
         "  --max-mb N        keep at most N MB of captured data in memory for this run\n"
         "  --auto-log        write data over the limit, and everything at exit, to the logs\n"
         "  --har FILE        also write the exchanges to FILE as HAR 1.2, at each log pass\n"
         "                    and at exit\n"
         "  -q, --quiet       print no line per exchange\n"
         "  --inspect-https   inspect HTTPS for this run with the local certificate\n"
         "                    authority kept in the settings folder's ca/\n"
         "  --upstream-ca FILE\n"
         "                    also trust the PEM certificates in FILE when verifying\n"
         "                    servers, for this run\n"
         "  --no-inspect HOST[,HOST...]\n"
         "                    leave these hosts (exact names, or *.example.com for any\n"
         "                    subdomain) as untouched tunnels, for this run\n"
         "  --open-browser    once listening, start Chromium, Google Chrome or Firefox with\n"
         "                    a temporary profile that uses this proxy\n"
         "  --help            show this help and exit\n"
         "  --version         show the version and exit\n"
         "\n"
         "Options override the saved settings for this run only. Settings are kept in\n"
         "$RELAYWATCH_CONFIG_DIR, else ${XDG_CONFIG_HOME:-~/.config}/relaywatch.\n";
}

}  // namespace rw::app
