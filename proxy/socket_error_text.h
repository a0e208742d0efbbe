// User-visible texts of socket errors, keyed by Windows Sockets code. Pure; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace rw::proxy {

// The table's text, "Winsock error = (%u)" for another code, "" for 0.
std::string SocketErrorText(uint32_t winsockCode);

// The text for a Linux errno, through the Winsock code it maps to.
std::string ErrnoErrorText(int errorNumber);

// Why listening on `port` failed with `errorNumber` (from bind or listen), in the listen error's
// words: the table's text where it has one that describes such a failure, else the system's own
// description with the port ("Address already in use (port 8010)"). A port outside 1 to 65535,
// which is never bound, is named as such.
std::string ListenErrorText(int port, int errorNumber);

}  // namespace rw::proxy
