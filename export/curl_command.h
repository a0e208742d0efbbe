// "Copy as curl": a shell command line that repeats one captured request, direct or through the
// proxy. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rw::app {

struct CurlCommand {
  bool ok = false;
  std::string command;  // when ok: one line for bash or zsh
  std::string problem;  // when not ok: why the request cannot be repeated, for the user
};

// `captured` is the request side's captured bytes and `total` the bytes the browser sent.
// `proxy` is "host:port" to send the command through, or empty for a direct request.
// Hop-by-hop and framing headers are left to curl; a chunked body is sent decoded. `origin`
// ("https://host[:port]", Conversation::Origin) names the server of an origin-form request taken
// out of TLS; empty otherwise.
CurlCommand BuildCurlCommand(std::string_view captured, int64_t total, std::string_view proxy,
                             std::string_view origin = {});

// `text` as one shell word that gives back exactly its bytes, for any bytes but NUL: in single
// quotes (each ' written as '\'') when it is printable UTF-8, otherwise in $'...' with control
// bytes and bytes that are not UTF-8 as escapes (\n, \xNN), which bash and zsh read.
std::string ShellQuote(std::string_view text);

}  // namespace rw::app
