#pragma once

#include "component/oru/result_code.h"

namespace oru {

// Results the host's HTTP client completes a request with, besides
// NoError, OperationCancelled (the request was cancelled), OperationTimeout
// (a time-out ran out) and NetworkError (no connection, or it broke).
namespace http_result {
// A success: the final status came, but the body after it did not come
// whole (cut short, damaged, past the kept size, or later than the request's
// time-out). The status decides; the body is what arrived of it.
inline constexpr Result kAnswerBodyIncomplete = static_cast<Result>(0x20010001u);
// The TLS handshake failed for another reason than the server's certificate.
inline constexpr Result kTlsFailure = static_cast<Result>(0xA0010002u);
// The server's certificate chain was refused: by the verification callback,
// or, without one, by the trust store or the host name check.
inline constexpr Result kServerCertificateRejected = static_cast<Result>(0xA0010015u);
// The server's certificate is expired or not yet valid.
inline constexpr Result kServerCertificateExpired = static_cast<Result>(0xA0010016u);
// The server's certificate does not name the host.
inline constexpr Result kServerCertificateNameMismatch = static_cast<Result>(0xA0010017u);
}  // namespace http_result

}  // namespace oru
