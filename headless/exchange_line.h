// The one line printed for each completed exchange in headless mode, for example
//   22:35:01.123 #2 GET http://example.test/ 200 req=312B rsp=24123B 0.012s
// Pure; any thread.
#pragma once

#include <string>

#include "capture/conversation.h"

namespace rw::headless {

// The line without its line end, or the empty text for a connection that sent nothing (a browser
// opening a connection ahead of need): that is no exchange. Method and URL come from the request
// line (a tunnel's URL is its host:port), the status code from the final status line ("---" when
// no response came). Control characters and malformed UTF-8 show as "?"; a very long URL is cut.
std::string FormatExchangeLine(const capture::ExchangeSummary& summary);

}  // namespace rw::headless
