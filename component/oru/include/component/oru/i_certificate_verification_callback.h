#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "component/oru/certificate_status.h"
#include "component/oru/i_object.h"

namespace oru {

// Decides whether the certificate chain a TLS server presented to the
// host's HTTP client is acceptable. The client calls it during the
// handshake; ValidateCertificateChain takes the slot right after AddRef,
// Release and QueryInterface.
class ICertificateVerificationCallback : public IObject {
 public:
  static constexpr InterfaceId kIid = 0x4E2B7C19;

  // NoError when the chain (`records`, the server's own certificate first)
  // is acceptable for a request of type `requestType` to `url`, False when
  // it is not; a failure code only when the decision itself failed.
  virtual Result ValidateCertificateChain(std::string_view url, std::uint32_t requestType,
                                          std::span<const CertificateStatus> records) noexcept = 0;

 protected:
  ~ICertificateVerificationCallback() = default;
};

}  // namespace oru
