#pragma once

#include <cstdint>
#include <vector>

namespace sendara::syslog {

// One certificate of a server's chain as the handshake saw it.
struct CertificateRecord {
  std::vector<std::uint8_t> der;
  // Certificate error classes; 0 for none.
  std::uint64_t errorMask = 0;
};

}  // namespace sendara::syslog
