#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "component/sendara/base/detail/common/wiping_allocator.h"
#include "component/sendara/syslog/source/syslog_connection/syslog_protocol.h"

namespace sendara::syslog {

class ICertificateVerificationHandler;

// What a syslog client and its connections need to know.
struct SyslogClientSettings {
  struct ClientCertificate {
    // As stored in the client settings: passed through the host's decryptor
    // before use.
    base::SecretBytes keyPrivate;
    std::string certPublic;
  };

  // Reserved words; only the protocol is set by this component.
  std::array<std::uint32_t, 2> reserved1{};
  SyslogProtocol protocol = SyslogProtocol::Tcp;
  std::array<std::uint32_t, 3> reserved2{};
  // PEM text of the trusted server certificates, when there are any.
  std::optional<std::vector<std::uint8_t>> serverCerts;
  std::shared_ptr<ICertificateVerificationHandler> verificationHandler;
  std::optional<ClientCertificate> clientCert;
  // Milliseconds.
  std::uint32_t timeoutConnection = 500;
  std::uint32_t timeoutRequest = 500;
};

}  // namespace sendara::syslog
