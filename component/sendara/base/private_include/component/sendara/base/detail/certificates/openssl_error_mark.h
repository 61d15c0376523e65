#pragma once

#include <openssl/err.h>

namespace sendara::base {

// Leaves the thread's OpenSSL error queue as it was found. Helpers for which
// "no certificate" or "wrong password" is an ordinary answer must not leave
// OpenSSL's error entries behind: a later TLS call on the same thread would
// find them and could take them for its own failure.
//
// The constructor may raise the TLS library's loading failure (it is the
// first OpenSSL call of its user); once it has run, the library is loaded.
class OpenSslErrorMark {
 public:
  OpenSslErrorMark() { ERR_set_mark(); }
  OpenSslErrorMark(const OpenSslErrorMark&) = delete;
  OpenSslErrorMark& operator=(const OpenSslErrorMark&) = delete;
  ~OpenSslErrorMark() {
    try {
      ERR_pop_to_mark();
    } catch (...) {
      // Resolving the function failed; the entries stay, which is harmless.
    }
  }
};

}  // namespace sendara::base
