#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "component/oru/i_tracer.h"
#include "component/oru/result_code.h"

namespace sendara::base {

// Turns a PKCS#12 container (DER) into the PEM text of its certificate and
// the unencrypted PEM of its private key; extra certificates in it are
// dropped. The outputs are written only on success.
//
// `password` is empty, or a zero-terminated text without other zero bytes;
// the terminating zero is not part of the password. An empty password (no
// bytes, or the terminating zero alone) is tried as no password first and as
// the empty string second: PKCS#12 tells them apart, and the container's MAC
// decides which one it was made with.
//
// Answers NoError or the failure below; each failure is traced at level 300
// on `tracer` (when given) with its text:
//   "PKCS12 container is empty"                      InvalidArgument 0x80000046
//   "PKCS12 container has invalid size"              InvalidArgument (over 2^31-1 bytes)
//   "Password has invalid size"                      InvalidArgument (over 2^31-1 bytes)
//   "Password must be zero-terminated"               InvalidArgument
//   "Password must not contain zeros inside"         InvalidArgument
//   "Format of PKCS12 container is invalid"          InvalidType     0x8000005D
//   "Mac signature is not valid (most probably incorrect password)"
//                                                    InvalidSignature 0x8000005A
//   "Parsing error"                                  BasesCorrupted  0x80000069
//       the container passed its MAC check but cannot be decrypted or
//       decoded, or holds no private key or no certificate (that belongs to
//       the key): its content is damaged or incomplete.
//   "Private key doesn't match certificate"          NotMatched      0x8000004A
//   "Can't create bio"                               UnspecifiedError 0x8000004B
//   "Can't write out a private key"                  UnspecifiedError
//   "Can't write out X509"                           UnspecifiedError
//   "Can't get bio mem"                              UnspecifiedError
//       OpenSSL's own failures while writing PEM: nothing more specific is
//       known about them.
//   "Out of memory"                                  OutOfMemory     0x80000041
// Any other exception (the TLS library cannot be loaded, for one) is traced
// and converted as at every host-facing boundary.
oru::Result Pkcs12ToPem(std::span<const std::uint8_t> container,
                        std::span<const std::uint8_t> password, std::string& certificatePem,
                        std::vector<std::uint8_t>& privateKeyPem,
                        oru::ITracer* tracer = nullptr) noexcept;

}  // namespace sendara::base
