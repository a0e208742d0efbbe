#include "proxy/socket_error_text.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "platform/error_text.h"
#include "platform/winsock_codes.h"

namespace rw::proxy {
namespace {

struct ErrorText {
  uint32_t code;
  const char* text;
};

constexpr ErrorText kTexts[] = {
    {10013, "The requested address is a broadcast address, but the appropriate flag was not set."},
    {10014, "The lpBuf argument is not in a valid part of the user address space."},
    {10022, "The socket has not been bound with Bind."},
    {10035, "The socket is marked as nonblocking and the requested operation would block."},
    {10036, "A blocking Windows Sockets operation is in progress."},
    {10038, "The descriptor is not a socket."},
    {10040,
     "The socket is of type SOCK_DGRAM, and the datagram is larger than the maximum supported by "
     "the Windows Sockets implementation."},
    {10045, "MSG_OOB was specified, but the socket is not of type SOCK_STREAM."},
    {10050, "The Windows Sockets implementation detected that the network subsystem failed."},
    {10052, "The connection must be reset because the Windows Sockets implementation dropped it."},
    {10053, "The virtual circuit was aborted due to timeout or other failure."},
    {10054, "Connection reset"},
    {10055, "The Windows Sockets implementation reports a buffer deadlock."},
    {10057, "The socket is not connected."},
    {10058, "The socket has been shut down."},
};

// Codes whose table text describes another call's failure (a send to a broadcast address, a bad
// buffer, a socket used before its bind); for a failed bind or listen they would mislead.
constexpr uint32_t kNotListenTexts[] = {10013, 10014, 10022};

const char* TableText(uint32_t winsockCode) {
  for (const ErrorText& entry : kTexts) {
    if (entry.code == winsockCode) {
      return entry.text;
    }
  }
  return nullptr;
}

}  // namespace

std::string SocketErrorText(uint32_t winsockCode) {
  if (winsockCode == 0) {
    return std::string();
  }
  if (const char* text = TableText(winsockCode)) {
    return text;
  }
  char text[80];
  std::snprintf(text, sizeof(text), "Winsock error = (%u)", winsockCode);
  return text;
}

std::string ErrnoErrorText(int errorNumber) {
  return SocketErrorText(platform::WinsockCodeFromErrno(errorNumber));
}

std::string ListenErrorText(int port, int errorNumber) {
  if (port == 0) {
    return "No port is set: enter a port from 1 to 65535.";
  }
  if (port < 1 || port > 65535) {
    return "The port " + std::to_string(port) + " is not between 1 and 65535.";
  }
  const uint32_t code = platform::WinsockCodeFromErrno(errorNumber);
  const char* text = TableText(code);
  if (text != nullptr && std::find(std::begin(kNotListenTexts), std::end(kNotListenTexts), code) ==
                             std::end(kNotListenTexts)) {
    return text;
  }
  return platform::ErrorText(errorNumber) + " (port " + std::to_string(port) + ")";
}

}  // namespace rw::proxy
