#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>

namespace sendara::syslog {

// A destination: host and port, the port as service text for the resolver.
struct SyslogServer {
  std::string host;
  std::string port;

  friend bool operator==(const SyslogServer&, const SyslogServer&) = default;
  // "host:port"; an IPv6 address in brackets, as the endpoint is written in
  // the settings and named in every other message.
  std::string ToString() const {
    return host.find(':') == std::string::npos ? host + ":" + port : "[" + host + "]:" + port;
  }
  friend std::ostream& operator<<(std::ostream& out, const SyslogServer& server) { return out << server.ToString(); }
};

struct SyslogServerHash {
  std::size_t operator()(const SyslogServer& server) const noexcept {
    const std::size_t h = std::hash<std::string>()(server.host);
    return h ^ (std::hash<std::string>()(server.port) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2));
  }
};

}  // namespace sendara::syslog
