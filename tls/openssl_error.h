// The text of OpenSSL's error queue for messages ("unsupported", "bad decrypt"), and its clearing.
// OpenSSL keeps the queue per thread, so any thread, about its own last failures.
#pragma once

#include <string>

namespace rw::tls {

// The reason of the most recent queued error (empty when none), and the queue cleared.
std::string TakeOpenSslError();

}  // namespace rw::tls
