#pragma once

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "component/oru/i_certificate_verification_callback.h"
#include "component/oru/ref_ptr.h"
#include "host/http/http_trust_anchors.h"

namespace reference_host {

// The check of a server's certificate chain for one request, installed in
// libcurl's TLS context of each new connection (CURLOPT_SSL_CTX_FUNCTION).
// The context holds a share of it: libcurl keeps a connection for later
// requests, and the check must last as long as OpenSSL may call it, after the
// request that made the connection is gone. Such a connection is checked once,
// at its handshake: renegotiation, which would check a new chain in the middle
// of a later request, is refused.
//
// The operator's trust anchors join the trust store of each new connection's
// context, next to the system's store libcurl loaded: a chain to one of them
// verifies as a chain to a system CA does, with a callback or without.
//
// With a verification callback, OpenSSL's verification runs to its end with
// every error recorded (class per certificate, see CertificateStatus), the
// host-name check adds its class to the server's own certificate, and the
// callback's answer alone decides: the handshake goes on even when OpenSSL's
// own check failed. Without a callback the check only watches: OpenSSL and
// libcurl decide against the system's trust store and the host name, and the
// check remembers enough to tell why a chain was refused.
class ServerCertificateCheck : public std::enable_shared_from_this<ServerCertificateCheck> {
 public:
  // `host` is the host of `url` as the connection names it: a DNS name, or
  // an IP address without brackets. A check to install must be owned by a
  // std::shared_ptr.
  ServerCertificateCheck(oru::RefPtr<oru::ICertificateVerificationCallback> callback, std::string url,
                         std::string host, HttpTrustAnchors trustAnchors = {});

  ServerCertificateCheck(const ServerCertificateCheck&) = delete;
  ServerCertificateCheck& operator=(const ServerCertificateCheck&) = delete;

  // CURLOPT_SSL_CTX_FUNCTION with the check as CURLOPT_SSL_CTX_DATA: the
  // context takes a share of the check, let go when OpenSSL frees the
  // context, gets the trust anchors in its store, and refuses renegotiation.
  static CURLcode InstallInContext(CURL* easy, void* sslContext, void* check) noexcept;

  // The callback refused the chain (or the decision could not be asked for).
  bool Refused() const noexcept { return m_refused; }
  // Without a callback: OpenSSL accepted the chain but the server's own
  // certificate does not name the host.
  bool TrustedButNameMismatch() const noexcept { return m_chainTrusted && !m_nameMatches; }

 private:
  static int RecordError(int ok, X509_STORE_CTX* store) noexcept;
  static int VerifyChain(X509_STORE_CTX* store, void* check) noexcept;
  int Verify(X509_STORE_CTX* store);
  int Decide(X509_STORE_CTX* store, const std::vector<X509*>& chain);
  int Refuse(X509_STORE_CTX* store) noexcept;
  std::uint64_t& MaskAt(int depth);
  bool NamesHost(X509* certificate) const;

  const oru::RefPtr<oru::ICertificateVerificationCallback> m_callback;
  const std::string m_url;
  const std::string m_host;
  const HttpTrustAnchors m_trustAnchors;
  // Error classes by depth (0: the server's own certificate).
  std::vector<std::uint64_t> m_masks;
  bool m_refused = false;
  bool m_chainTrusted = false;
  bool m_nameMatches = true;
};

}  // namespace reference_host
