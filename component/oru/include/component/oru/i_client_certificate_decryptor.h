#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "component/oru/i_object.h"

namespace oru {

// Host service that turns the stored, encrypted form of a secret (the
// client certificate's password, the stored private key) into plain bytes.
class IClientCertificateDecryptor : public IObject {
 public:
  // Asked for when a client is created, to hand to the TLS syslog clients.
  static constexpr InterfaceId kIid = 0x009EAFAB;

  virtual Result Decrypt(std::span<const std::uint8_t> encrypted, std::vector<std::uint8_t>& plain) = 0;

 protected:
  ~IClientCertificateDecryptor() = default;
};

}  // namespace oru
