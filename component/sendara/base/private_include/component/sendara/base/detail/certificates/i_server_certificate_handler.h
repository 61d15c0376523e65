#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "component/oru/i_object.h"
#include "component/oru/result_code.h"
#include "component/sendara/base/detail/certificates/certificate_status.h"

namespace sendara::base {

// Decides whether the certificate chain a TLS server presented is
// acceptable. The host's HTTP client calls it as its verification callback,
// so the order of the operations is fixed: ValidateCertificateChain takes
// the slot right after AddRef, Release and QueryInterface.
class IServerCertificateHandler : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = 0x4E2B7C19;

  // NoError when the chain (`records`, the server's own certificate first)
  // is acceptable for a request of type `requestType` to `url`, False when
  // it is not; a failure code only when the decision itself failed.
  virtual oru::Result ValidateCertificateChain(std::string_view url, std::uint32_t requestType,
                                               std::span<const CertificateStatus> records) noexcept = 0;

  // The decision alone: true when the chain is acceptable.
  virtual bool IsCertificatesValid(std::span<const CertificateStatus> records) noexcept = 0;

 protected:
  ~IServerCertificateHandler() = default;
};

}  // namespace sendara::base
