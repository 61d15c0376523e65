#pragma once

#include <cstdint>

namespace sendara::syslog {

enum class SyslogProtocol : std::uint32_t {
  Tcp = 0,
  Udp = 1,
  EncryptedTcp = 2,
};

}  // namespace sendara::syslog
