#include "proxy/server_connector.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>

#include "platform/os_sys_calls.h"

namespace rw::proxy {

BegunConnection BeginServerConnection(HostCache& cache, const std::string& name, int32_t port,
                                      uint16_t listeningPort) {
  BegunConnection begun;
  if (port < 1 || port > 65535) {
    return begun;
  }
  uint32_t address = 0;
  if (!platform::ParseDottedIPv4(name, &address)) {
    address = cache.Lookup(name);
    if (address == 0) {
      address = platform::ResolveIPv4(name).netOrderAddress;
      cache.Insert(name, address);
    }
  }
  if (address == 0) {
    return begun;
  }
  // The listener takes 127.0.0.1 alone, so this is the one address, under whatever name, that
  // reaches it.
  if (listeningPort != 0 && port == listeningPort && address == htonl(INADDR_LOOPBACK)) {
    begun.ownListener = true;
    return begun;
  }
  platform::SocketResult created = platform::CreateTcpSocket();
  platform::Socket& socket = created.value;
  if (!socket.Valid() || !platform::SetNonBlocking(socket).Ok()) {
    return begun;
  }
  const platform::SysCallResult connected =
      platform::ConnectIPv4(socket, address, static_cast<uint16_t>(port));
  if (!connected.Ok() && connected.errorNumber != EINPROGRESS) {
    return begun;
  }
  begun.socket = std::move(socket);
  return begun;
}

bool FinishServerConnection(const platform::Socket& socket, std::chrono::milliseconds timeout) {
  const platform::PollPairResult ready =
      platform::PollOne({socket.Fd(), false, true}, static_cast<int>(timeout.count()));
  // A socket shut down while connecting (a stop) or refused reports a hang-up or an error.
  if (!ready.Ok() || ready.value.timedOut || ready.value.first.failed ||
      !ready.value.first.writable) {
    return false;
  }
  const platform::SysCallResult error = platform::ConnectError(socket);
  return error.Ok() && error.value == 0;
}

}  // namespace rw::proxy
