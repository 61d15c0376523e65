#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sendara::base {

// What a request sender is made from: the part of a client's settings that
// concerns its HTTP connection.
struct RequestSenderSettings {
  // Milliseconds.
  std::uint32_t connectionTimeout = 500;
  std::uint32_t requestTimeout = 500;
  // PEM text of the certificate the server must present; empty leaves the
  // decision to the system's trust store.
  std::vector<std::uint8_t> serverCerts;
  // Mask of TLS verification errors to tolerate.
  std::optional<std::uint64_t> validTlsErrors;
  // "a.b.c.d:port", "[v6]:port" or a bare address.
  std::optional<std::string> tunnel;
  // 0 to 9.
  std::uint32_t gzipLevel = 5;
};

}  // namespace sendara::base
