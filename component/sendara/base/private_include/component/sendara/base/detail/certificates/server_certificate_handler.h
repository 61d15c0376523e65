#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "component/oru/basic_object.h"
#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/certificates/i_server_certificate_handler.h"
#include "component/sendara/base/detail/certificates/openssl_ptr.h"

namespace sendara::base {

// Accepts a server's certificate chain when every error of it is one the
// settings tolerate (`validTlsErrors`), or else when the server's own
// certificate is valid now and is the very certificate the settings name
// (`serverCerts`). The request-sender factory makes one per HTTP request
// sender and hands it to the host's HTTP client.
class ServerCertificateHandler final
    : public oru::Object<ServerCertificateHandler, IServerCertificateHandler> {
 public:
  // `serverCerts`: PEM text whose first certificate is the one the server
  // must present; may hold none. `validTlsErrors`: the CertificateErrorClass
  // bits to tolerate, when the settings give any. Raises what X509FromPem
  // raises.
  ServerCertificateHandler(oru::RefPtr<oru::ITracer> tracer,
                           std::span<const std::uint8_t> serverCerts,
                           std::optional<std::uint64_t> validTlsErrors);

  oru::Result ValidateCertificateChain(std::string_view url, std::uint32_t requestType,
                                       std::span<const CertificateStatus> records) noexcept override;
  bool IsCertificatesValid(std::span<const CertificateStatus> records) noexcept override;

 private:
  ~ServerCertificateHandler() override = default;

  const oru::RefPtr<oru::ITracer> m_tracer;
  // Empty when `serverCerts` held no certificate.
  const X509Ptr m_expectedCertificate;
  const std::optional<std::uint64_t> m_validTlsErrors;
};

}  // namespace sendara::base
