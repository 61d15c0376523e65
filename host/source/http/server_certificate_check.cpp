#include "host/http/server_certificate_check.h"

#include <arpa/inet.h>
#include <openssl/x509v3.h>

#include <span>
#include <stdexcept>
#include <utility>

#include "component/oru/certificate_status.h"
#include "component/sendara/base/detail/certificates/certificate_error_class.h"

namespace reference_host {
namespace {

using sendara::base::CertificateErrorClass;
using sendara::base::CertificateErrorClassOf;

// The request type the callback is told for requests of this client.
constexpr std::uint32_t kHttpsRequestType = 1;

// The check whose chain OpenSSL verifies on this thread. OpenSSL calls the
// per-certificate callback from inside X509_verify_cert, which VerifyChain
// calls on the same thread, so the check needs no other way in (the store's
// own slot for it is taken by the SSL object).
thread_local ServerCertificateCheck* t_verifying = nullptr;

class VerifyingScope {
 public:
  explicit VerifyingScope(ServerCertificateCheck* check) noexcept { t_verifying = check; }
  ~VerifyingScope() { t_verifying = nullptr; }
  VerifyingScope(const VerifyingScope&) = delete;
  VerifyingScope& operator=(const VerifyingScope&) = delete;
};

// A context's share of the check installed in it, in the context's ex_data.
using Share = std::shared_ptr<ServerCertificateCheck>;

// OpenSSL calls it for every context it frees, with the context's share or,
// for a context without one, null.
void ReleaseShare(void*, void* share, CRYPTO_EX_DATA*, int, long, void*) noexcept {
  delete static_cast<Share*>(share);
}

// The ex_data slot of the shares, taken on the first installation of the
// process. A failure throws and leaves the slot for the next one to ask for.
int ShareSlot() {
  static const int slot = [] {
    const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, &ReleaseShare);
    if (index < 0) throw std::runtime_error("OpenSSL gave no ex_data slot");
    return index;
  }();
  return slot;
}

bool IsIpAddress(const std::string& host) {
  unsigned char address[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::vector<std::uint8_t> DerOf(X509* certificate) {
  const int size = i2d_X509(certificate, nullptr);
  if (size <= 0) return {};
  std::vector<std::uint8_t> der(static_cast<std::size_t>(size));
  unsigned char* out = der.data();
  if (i2d_X509(certificate, &out) != size) return {};
  return der;
}

}  // namespace

ServerCertificateCheck::ServerCertificateCheck(oru::RefPtr<oru::ICertificateVerificationCallback> callback,
                                               std::string url, std::string host, HttpTrustAnchors trustAnchors)
    : m_callback(std::move(callback)),
      m_url(std::move(url)),
      m_host(std::move(host)),
      m_trustAnchors(std::move(trustAnchors)) {}

CURLcode ServerCertificateCheck::InstallInContext(CURL*, void* sslContext, void* check) noexcept {
  try {
    auto* context = static_cast<SSL_CTX*>(sslContext);
    auto* self = static_cast<ServerCertificateCheck*>(check);
    // libcurl has loaded the system's store into the context before it calls
    // here: the anchors go next to it. libcurl 7.87 and later may give every
    // new connection of a multi handle the same store (its CA cache), which
    // then holds the anchors of an earlier connection of the same client,
    // with the same anchors; a client has a multi handle of its own, so no
    // other client's connections see them.
    if (!self->m_trustAnchors.AddTo(SSL_CTX_get_cert_store(context))) return CURLE_SSL_CACERT_BADFILE;
    // The context keeps the check for as long as it may call it: libcurl
    // keeps the connection, and the context with it, after the request that
    // made it. A share the context held before (libcurl installs once per
    // context) is let go once the new one is in: setting the slot again does
    // not call ReleaseShare.
    const int slot = ShareSlot();
    auto share = std::make_unique<Share>(self->shared_from_this());
    std::unique_ptr<Share> previous(static_cast<Share*>(SSL_CTX_get_ex_data(context, slot)));
    if (SSL_CTX_set_ex_data(context, slot, share.get()) != 1) {
      previous.release();
      return CURLE_OUT_OF_MEMORY;
    }
    share.release();
    // A TLS 1.2 server could ask for a new handshake on a kept connection,
    // in the middle of a later request: its chain would be checked for the
    // request that made the connection, and the later request would not
    // learn of a refusal. The chain checked at the connection's handshake is
    // the connection's only one.
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION);
    // SSL_VERIFY_PEER as libcurl sets it; the per-certificate callback only
    // records, the chain callback decides.
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, &RecordError);
    SSL_CTX_set_cert_verify_callback(context, &VerifyChain, check);
    return CURLE_OK;
  } catch (...) {
    // OpenSSL could not be reached: no connection without the check.
    return CURLE_SSL_CONNECT_ERROR;
  }
}

int ServerCertificateCheck::RecordError(int ok, X509_STORE_CTX* store) noexcept {
  ServerCertificateCheck* check = t_verifying;
  if (!check) return ok;
  try {
    if (!ok) {
      const std::uint64_t errorClass = CertificateErrorClassOf(X509_STORE_CTX_get_error(store));
      check->MaskAt(X509_STORE_CTX_get_error_depth(store)) |= errorClass ? errorClass : CertificateErrorClass::kOther;
    }
  } catch (...) {
    // Without the record the callback would decide on a chain that looks
    // cleaner than it is.
    check->m_refused = true;
    return 0;
  }
  // With a callback every error is let through so that the whole chain is
  // checked and the callback sees all of it; without one OpenSSL decides.
  return check->m_callback ? 1 : ok;
}

int ServerCertificateCheck::VerifyChain(X509_STORE_CTX* store, void* check) noexcept {
  auto* self = static_cast<ServerCertificateCheck*>(check);
  try {
    return self->Verify(store);
  } catch (...) {
    // An exception must not cross OpenSSL's frames; a chain that could not be
    // checked is no chain to trust.
    return self->Refuse(store);
  }
}

int ServerCertificateCheck::Verify(X509_STORE_CTX* store) {
  m_masks.clear();
  m_refused = false;
  m_chainTrusted = false;
  m_nameMatches = true;

  int verified = 0;
  {
    VerifyingScope scope(this);
    verified = X509_verify_cert(store);
  }
  if (m_refused) return Refuse(store);

  std::vector<X509*> chain;
  if (STACK_OF(X509)* built = X509_STORE_CTX_get0_chain(store)) {
    for (int i = 0; i < sk_X509_num(built); ++i) chain.push_back(sk_X509_value(built, i));
  }
  // A chain that could not be built at all still has the server's own
  // certificate to show.
  if (chain.empty()) {
    if (X509* leaf = X509_STORE_CTX_get0_cert(store)) chain.push_back(leaf);
  }

  if (!m_callback) {
    m_chainTrusted = verified > 0;
    if (m_chainTrusted && !chain.empty()) m_nameMatches = NamesHost(chain.front());
    return verified;
  }

  // A failure OpenSSL did not report through the per-certificate callback
  // (an internal error) must still show in the records.
  if (verified <= 0 && m_masks.empty()) {
    const std::uint64_t errorClass = CertificateErrorClassOf(X509_STORE_CTX_get_error(store));
    MaskAt(X509_STORE_CTX_get_error_depth(store)) |= errorClass ? errorClass : CertificateErrorClass::kOther;
  }
  return Decide(store, chain);
}

int ServerCertificateCheck::Decide(X509_STORE_CTX* store, const std::vector<X509*>& chain) {
  if (chain.empty()) return Refuse(store);
  if (!NamesHost(chain.front())) MaskAt(0) |= CertificateErrorClass::kHostName;

  std::vector<std::vector<std::uint8_t>> ders;
  std::vector<oru::CertificateStatus> records;
  ders.reserve(chain.size());
  records.reserve(chain.size());
  for (std::size_t depth = 0; depth < chain.size(); ++depth) {
    ders.push_back(DerOf(chain[depth]));
    if (ders.back().empty()) return Refuse(store);
    records.push_back({ders.back(), MaskAt(static_cast<int>(depth))});
  }

  if (m_callback->ValidateCertificateChain(m_url, kHttpsRequestType, records) != oru::rc::NoError) {
    return Refuse(store);
  }
  // The callback accepted: OpenSSL's own verdict must not fail the handshake
  // afterwards, nor libcurl's look at the verification result.
  X509_STORE_CTX_set_error(store, X509_V_OK);
  return 1;
}

int ServerCertificateCheck::Refuse(X509_STORE_CTX* store) noexcept {
  m_refused = true;
  // libcurl tells a refused chain by a verification error; a chain OpenSSL
  // found fine needs one.
  try {
    if (X509_STORE_CTX_get_error(store) == X509_V_OK) X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
  } catch (...) {
  }
  return 0;
}

std::uint64_t& ServerCertificateCheck::MaskAt(int depth) {
  const auto index = static_cast<std::size_t>(depth < 0 ? 0 : depth);
  if (m_masks.size() <= index) m_masks.resize(index + 1, 0);
  return m_masks[index];
}

bool ServerCertificateCheck::NamesHost(X509* certificate) const {
  if (IsIpAddress(m_host)) return X509_check_ip_asc(certificate, m_host.c_str(), 0) == 1;
  return X509_check_host(certificate, m_host.data(), m_host.size(), 0, nullptr) == 1;
}

}  // namespace reference_host
