#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "component/oru/i_certificate_verification_callback.h"
#include "component/oru/result_code.h"
#include "component/sendara/base/detail/certificates/certificate_status.h"

namespace sendara::base {

// Decides whether the certificate chain a TLS server presented is
// acceptable. The host's HTTP client calls it as its verification callback
// (ValidateCertificateChain, the slot right after AddRef, Release and
// QueryInterface).
class IServerCertificateHandler : public oru::ICertificateVerificationCallback {
 public:
  // The decision alone: true when the chain is acceptable.
  virtual bool IsCertificatesValid(std::span<const CertificateStatus> records) noexcept = 0;

 protected:
  ~IServerCertificateHandler() = default;
};

}  // namespace sendara::base
