// How listener start-up failures reach the user: the application shows an error box, tests fake
// it. Called on the thread that calls StartListening (the user-interface thread).
#pragma once

#include <string>

namespace rw::proxy {

class ListenerErrorSink {
 public:
  virtual ~ListenerErrorSink() = default;
  virtual void ShowError(const std::string& text) = 0;
};

}  // namespace rw::proxy
