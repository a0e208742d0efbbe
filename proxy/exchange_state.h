// Where the exchange on one browser connection stands, shared by its request side and response
// side: each changes it at the steps its own bytes decide. Owned and used by one connection thread.
#pragma once

namespace rw::proxy {

enum class RequestState {
  kHeader,       // the next browser bytes begin a request header
  kPassThrough,  // browser bytes go to the server as they come (a body, or a tunnel)
};

struct ExchangeState {
  // Bytes pass unchanged both ways (CONNECT, or after a 101) for the rest of the connection.
  bool tunnel = false;
  RequestState requestState = RequestState::kHeader;
  bool awaitingResponse = false;   // a forwarded request's response has not ended
  bool responseJustEnded = false;  // since the last pass: a waiting request may go now
  bool browserEnded = false;       // the browser half-closed; the response in flight still goes

  // A request has gone to the server and its response has not ended: the browser's next request
  // is not read yet, as it may be for another server.
  bool NextRequestWaits() const {
    return awaitingResponse && !tunnel && requestState == RequestState::kHeader;
  }
};

}  // namespace rw::proxy
