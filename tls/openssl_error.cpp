#include "tls/openssl_error.h"

#include <openssl/err.h>

namespace rw::tls {

std::string TakeOpenSslError() {
  const unsigned long code = ERR_peek_last_error();
  std::string text;
  if (code != 0) {
    const char* reason = ERR_reason_error_string(code);
    text = reason != nullptr ? reason : "error " + std::to_string(ERR_GET_REASON(code));
  }
  ERR_clear_error();
  return text;
}

}  // namespace rw::tls
