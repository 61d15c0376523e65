#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace siem_sink {

// The ways events reach the sink; the order is the one of every listing
// (usage, ready file, summary).
enum class Protocol { kTcp, kUdp, kTls, kHttp, kHttps };

inline constexpr std::size_t kProtocolCount = 5;

inline constexpr std::array<Protocol, kProtocolCount> kProtocols = {
    Protocol::kTcp, Protocol::kUdp, Protocol::kTls, Protocol::kHttp, Protocol::kHttps};

// The name used on the command line, in the ready file and in the summary.
constexpr std::string_view ProtocolName(Protocol protocol) {
  switch (protocol) {
    case Protocol::kTcp: return "tcp";
    case Protocol::kUdp: return "udp";
    case Protocol::kTls: return "tls";
    case Protocol::kHttp: return "http";
    case Protocol::kHttps: return "https";
  }
  return "?";
}

constexpr std::size_t ProtocolIndex(Protocol protocol) { return static_cast<std::size_t>(protocol); }

}  // namespace siem_sink
