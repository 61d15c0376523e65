#include "component/sendara/base/detail/certificates/server_certificate_handler.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>

#include <openssl/x509.h>

#include "component/oru/exception_to_result.h"
#include "component/sendara/base/detail/certificates/certificate_error_class.h"
#include "component/sendara/base/detail/certificates/x509_from_der.h"
#include "component/sendara/base/detail/certificates/x509_from_pem.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::base {
namespace {

// Streams DER bytes as lowercase hexadecimal, two digits a byte, or
// "{empty}" for no bytes.
struct DerHex {
  std::span<const std::uint8_t> der;

  friend std::ostream& operator<<(std::ostream& out, const DerHex& hex) {
    if (hex.der.empty()) return out << "{empty}";
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(hex.der.size() * 2, '\0');
    for (std::size_t i = 0; i < hex.der.size(); ++i) {
      text[2 * i] = kDigits[hex.der[i] >> 4];
      text[2 * i + 1] = kDigits[hex.der[i] & 0x0F];
    }
    return out << text;
  }
};

// Streams the records of a chain, joined by ", ", each as
// { "errors" : <mask>, "cert" : "<DER hex>"}.
struct StatusRecords {
  std::span<const CertificateStatus> records;

  friend std::ostream& operator<<(std::ostream& out, const StatusRecords& list) {
    const char* separator = "";
    for (const CertificateStatus& record : list.records) {
      out << separator << "{ \"errors\" : " << record.errorMask << ", \"cert\" : \""
          << DerHex{record.der} << "\"}";
      separator = ", ";
    }
    return out;
  }
};

// "0x" and `value` in uppercase hexadecimal, at least `digits` digits.
std::string Hex(std::uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

ServerCertificateHandler::ServerCertificateHandler(oru::RefPtr<oru::ITracer> tracer,
                                                   std::span<const std::uint8_t> serverCerts,
                                                   std::optional<std::uint64_t> validTlsErrors)
    : m_tracer(std::move(tracer)),
      m_expectedCertificate(X509FromPem(serverCerts)),
      m_validTlsErrors(validTlsErrors) {}

oru::Result ServerCertificateHandler::ValidateCertificateChain(
    std::string_view url, std::uint32_t requestType,
    std::span<const CertificateStatus> records) noexcept {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                "in: url = " << url << "; request type = " << requestType
                             << "; status = " << StatusRecords{records} << "; accepting tls check: "
                             << (m_validTlsErrors ? "true" : "false")
                             << (m_validTlsErrors ? ", accepted errors: " + Hex(*m_validTlsErrors, 1)
                                                  : std::string()));
  const oru::Result result = IsCertificatesValid(records) ? oru::rc::NoError : oru::rc::False;
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                "out: result = " << Hex(static_cast<std::uint32_t>(result), 8));
  return result;
}

bool ServerCertificateHandler::IsCertificatesValid(
    std::span<const CertificateStatus> records) noexcept {
  try {
    if (records.empty()) {
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                    "not valid, because not exists server certificate");
      return false;
    }
    if (m_validTlsErrors &&
        std::all_of(records.begin(), records.end(), [&](const CertificateStatus& record) {
          return (record.errorMask & ~*m_validTlsErrors) == 0;
        })) {
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                    "certificates are valid because all errors are valid");
      return true;
    }
    const CertificateStatus& leaf = records.front();
    if (leaf.errorMask & CertificateErrorClass::kValidity) {
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                    "not valid, because certificate is expired or not yet valid");
      return false;
    }
    // Without a configured certificate there is nothing the server's could
    // equal: an unverifiable chain is not accepted on no evidence.
    if (!m_expectedCertificate) {
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                    "not valid, because no server certificate is set in settings: "
                    "server certificate (Der) = "
                        << DerHex{leaf.der});
      return false;
    }
    // A leaf that is no certificate cannot equal one; OpenSSL must never be
    // asked to compare with nothing.
    const X509Ptr presented = X509FromDer(leaf.der);
    if (!presented) {
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                    "not valid, because server certificate can't be parsed: "
                    "server certificate (Der) = "
                        << DerHex{leaf.der});
      return false;
    }
    if (X509_cmp(presented.get(), m_expectedCertificate.get()) == 0) return true;
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                  "not valid, because server certificate not equal settings: "
                  "server certificate (Der) = "
                      << DerHex{leaf.der});
    return false;
  } catch (...) {
    // The decision could not be taken (the TLS library cannot be loaded, for
    // one): the chain is not accepted.
    std::string prefix;
    try {
      prefix = "[" + std::string(SENDARA_FUNCTION_NAME) + "]";
    } catch (...) {
    }
    oru::ExceptionToResult(m_tracer.Get(), prefix);
    return false;
  }
}

}  // namespace sendara::base
