#pragma once

#include <openssl/x509_vfy.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <vector>

#include "component/sendara/base/detail/certificates/openssl_ptr.h"

namespace reference_host {

// CA certificates of the operator's own that the host's HTTP client trusts
// for HTTPS on top of the system's trust store. Loaded once; copies share the
// same certificates, which every TLS context they go into holds a reference
// of (OpenSSL counts them), so one load serves every client and request.
class HttpTrustAnchors {
 public:
  // No anchors: the system's trust store alone.
  HttpTrustAnchors() = default;

  // Every PEM certificate of `paths`: a file may hold several (a bundle); a
  // folder gives those of every regular file in it (not of its subfolders),
  // where a file without a certificate, a key say, is passed over. Throws
  // std::runtime_error naming the path when a file cannot be read, holds a
  // certificate that cannot be read, or a file or folder named gives no
  // certificate at all.
  static HttpTrustAnchors Load(const std::vector<std::filesystem::path>& paths);

  bool Empty() const noexcept { return !m_certificates || m_certificates->empty(); }
  std::size_t Count() const noexcept { return m_certificates ? m_certificates->size() : 0; }

  // Adds the anchors to `store`, a TLS context's, next to what it holds
  // already; an anchor it holds already is no failure. False when OpenSSL
  // could not add one.
  bool AddTo(X509_STORE* store) const noexcept;

 private:
  explicit HttpTrustAnchors(std::shared_ptr<const std::vector<sendara::base::X509Ptr>> certificates)
      : m_certificates(std::move(certificates)) {}

  std::shared_ptr<const std::vector<sendara::base::X509Ptr>> m_certificates;
};

}  // namespace reference_host
