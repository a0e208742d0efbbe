// User-visible texts of socket errors, keyed by Windows Sockets code. Pure; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace rw::proxy {

// The table's text, "Winsock error = (%u)" for another code, "" for 0.
std::string SocketErrorText(uint32_t winsockCode);

// The text for a Linux errno, through the Winsock code it maps to.
std::string ErrnoErrorText(int errorNumber);

}  // namespace rw::proxy
