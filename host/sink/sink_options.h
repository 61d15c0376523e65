#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/sink/protocol.h"

namespace siem_sink {

// The sink's command line. Parse checks the syntax and what can be told
// without touching the system (numbers, ranges, options that need each
// other); files and addresses are tried when the sink starts.
class SinkOptions {
 public:
  // Throws std::invalid_argument with a message that names the option at
  // fault. `arguments` excludes the program name.
  static SinkOptions Parse(std::span<const std::string_view> arguments);

  // The text --help prints.
  static std::string Usage();

  // The port asked for a protocol (0: any free one), none when the protocol
  // is not enabled.
  std::optional<std::uint16_t> Port(Protocol protocol) const { return m_ports[ProtocolIndex(protocol)]; }
  bool Enabled(Protocol protocol) const { return Port(protocol).has_value(); }
  bool NeedsTls() const { return Enabled(Protocol::kTls) || Enabled(Protocol::kHttps); }

  bool help = false;
  std::string address = "127.0.0.1";
  std::string certificateFile;
  std::string keyFile;
  // When set, TLS clients must present a certificate that chains to a CA of
  // this file.
  std::string clientCaFile;
  // "1.0" to "1.3": the one TLS version offered; empty for every version the
  // TLS library allows by default.
  std::string tlsVersion;
  unsigned httpStatus = 204;
  // When set, HTTP POSTs to another target are refused (404): the whole
  // target when this holds a query ('?'), its path before any query
  // otherwise.
  std::string httpPath;
  // Headers every HTTP POST must carry, each once and with exactly this
  // value (the name compared without regard to case), or it is refused
  // (401). The values may be secrets: nothing prints them.
  struct HttpHeader {
    std::string name;
    std::string value;
  };
  std::vector<HttpHeader> httpHeaders;
  std::string output = "-";
  std::string readyFile;
  std::string summaryJsonFile;
  // The sink stops by itself, as on SIGTERM, once this many events have
  // come over all protocols; 0 for never.
  std::uint64_t expectedEvents = 0;
  // Each line starts with the number of its connection (1, 2, ... as they
  // were accepted; 0 for datagrams) and a space.
  bool numberConnections = false;

 private:
  std::array<std::optional<std::uint16_t>, kProtocolCount> m_ports;
};

}  // namespace siem_sink
