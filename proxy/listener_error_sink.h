// How listener start-up failures reach the user: the application shows an error box, tests fake
// it. Called on the thread that calls StartListening (the user-interface thread).
#pragma once

#include <string>

namespace rw::proxy {

class ListenerErrorSink {
 public:
  virtual ~ListenerErrorSink() = default;
  virtual void ShowError(const std::string& text) = 0;
  // The failing call's errno and the port it was for, ahead of ShowError's fixed text, for
  // reports that name the system's reason. Optional.
  virtual void ListenFailed(int port, int errorNumber) {
    (void)port;
    (void)errorNumber;
  }
};

}  // namespace rw::proxy
