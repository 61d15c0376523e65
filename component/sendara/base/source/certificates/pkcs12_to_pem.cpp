#include "component/sendara/base/detail/certificates/pkcs12_to_pem.h"

#include <algorithm>
#include <climits>
#include <new>
#include <string_view>

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include "component/oru/exception_to_result.h"
#include "component/platform/secure_memory.h"
#include "component/sendara/base/detail/certificates/openssl_error_mark.h"
#include "component/sendara/base/detail/certificates/openssl_ptr.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::base {
namespace {

namespace rc = oru::rc;

// The end of a conversion: NoError, or a failure code with its text.
struct Outcome {
  oru::Result code = rc::NoError;
  std::string_view message;
};

constexpr Outcome kSucceeded{};

// Bytes that may hold a private key: wiped, whatever path the function
// leaves by, so that no copy of the key outlives the conversion in freed
// memory.
class WipedBytes {
 public:
  WipedBytes() = default;
  WipedBytes(const WipedBytes&) = delete;
  WipedBytes& operator=(const WipedBytes&) = delete;
  ~WipedBytes() {
    if (!m_bytes.empty()) platform::WipeMemory(m_bytes.data(), m_bytes.size());
  }
  std::vector<std::uint8_t>& Bytes() noexcept { return m_bytes; }

 private:
  std::vector<std::uint8_t> m_bytes;
};

// The text written into a memory stream, or nothing when it cannot be had.
bool TakeText(BIO* bio, const char*& data, std::size_t& size) {
  char* text = nullptr;
  const long length = BIO_get_mem_data(bio, &text);
  if (length <= 0 || !text) return false;
  data = text;
  size = static_cast<std::size_t>(length);
  return true;
}

// The checks of the arguments, before OpenSSL sees them.
Outcome CheckArguments(std::span<const std::uint8_t> container,
                       std::span<const std::uint8_t> password) {
  if (container.empty()) return {rc::InvalidArgument, "PKCS12 container is empty"};
  if (container.size() > static_cast<std::size_t>(INT_MAX)) {
    return {rc::InvalidArgument, "PKCS12 container has invalid size"};
  }
  if (password.size() > static_cast<std::size_t>(INT_MAX)) {
    return {rc::InvalidArgument, "Password has invalid size"};
  }
  if (!password.empty()) {
    if (password.back() != 0) return {rc::InvalidArgument, "Password must be zero-terminated"};
    if (std::find(password.begin(), password.end() - 1, 0) != password.end() - 1) {
      return {rc::InvalidArgument, "Password must not contain zeros inside"};
    }
  }
  return kSucceeded;
}

// The conversion of arguments that passed CheckArguments.
Outcome Convert(std::span<const std::uint8_t> container, std::span<const std::uint8_t> password,
                std::string& certificatePem, std::vector<std::uint8_t>& privateKeyPem) {
  const unsigned char* cursor = container.data();
  const Pkcs12Ptr pkcs12(d2i_PKCS12(nullptr, &cursor, static_cast<long>(container.size())));
  if (!pkcs12) return {rc::InvalidType, "Format of PKCS12 container is invalid"};

  // The checks above made a non-empty password a C string; its length is
  // that of the text before the terminating zero.
  const int passwordLength = password.empty() ? 0 : static_cast<int>(password.size() - 1);
  const char* passwordText = nullptr;
  if (passwordLength > 0) {
    passwordText = reinterpret_cast<const char*>(password.data());
    if (PKCS12_verify_mac(pkcs12.get(), passwordText, passwordLength) != 1) {
      return {rc::InvalidSignature, "Mac signature is not valid (most probably incorrect password)"};
    }
  } else if (PKCS12_verify_mac(pkcs12.get(), nullptr, 0) == 1) {
    // Made without a password: passwordText stays null.
  } else if (PKCS12_verify_mac(pkcs12.get(), "", 0) == 1) {
    passwordText = "";
  } else {
    return {rc::InvalidSignature, "Mac signature is not valid (most probably incorrect password)"};
  }

  EVP_PKEY* parsedKey = nullptr;
  X509* parsedCertificate = nullptr;
  // No stack for the extra certificates: PKCS12_parse frees them itself.
  const int parsed = PKCS12_parse(pkcs12.get(), passwordText, &parsedKey, &parsedCertificate, nullptr);
  // Owned from here on, whatever PKCS12_parse answered.
  const EvpPkeyPtr key(parsedKey);
  const X509Ptr certificate(parsedCertificate);
  // A container may hold a key without its certificate, or a certificate
  // without a key, and parse "successfully": neither is a client
  // certificate, and OpenSSL must never be handed the missing half.
  if (parsed != 1 || !key || !certificate) return {rc::BasesCorrupted, "Parsing error"};
  if (X509_check_private_key(certificate.get(), key.get()) != 1) {
    return {rc::NotMatched, "Private key doesn't match certificate"};
  }

  WipedBytes keyPem;
  {
    const BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) return {rc::UnspecifiedError, "Can't create bio"};
    if (PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
      return {rc::UnspecifiedError, "Can't write out a private key"};
    }
    const char* data = nullptr;
    std::size_t size = 0;
    if (!TakeText(bio.get(), data, size)) return {rc::UnspecifiedError, "Can't get bio mem"};
    keyPem.Bytes().assign(data, data + size);
  }

  std::string certificateText;
  {
    const BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) return {rc::UnspecifiedError, "Can't create bio"};
    if (PEM_write_bio_X509(bio.get(), certificate.get()) != 1) {
      return {rc::UnspecifiedError, "Can't write out X509"};
    }
    const char* data = nullptr;
    std::size_t size = 0;
    if (!TakeText(bio.get(), data, size)) return {rc::UnspecifiedError, "Can't get bio mem"};
    certificateText.assign(data, size);
  }

  // Nothing can fail any more: the outputs change together or not at all.
  certificatePem.swap(certificateText);
  privateKeyPem.swap(keyPem.Bytes());
  return kSucceeded;
}

}  // namespace

oru::Result Pkcs12ToPem(std::span<const std::uint8_t> container,
                        std::span<const std::uint8_t> password, std::string& certificatePem,
                        std::vector<std::uint8_t>& privateKeyPem, oru::ITracer* tracer) noexcept {
  Outcome outcome;
  try {
    // Arguments are refused before OpenSSL (and the TLS library) is needed.
    outcome = CheckArguments(container, password);
    if (oru::Succeeded(outcome.code)) {
      // A wrong password or a damaged container is an answer of this
      // function, not an error that OpenSSL's queue should keep.
      const OpenSslErrorMark mark;
      outcome = Convert(container, password, certificatePem, privateKeyPem);
    }
  } catch (const std::bad_alloc&) {
    outcome = {rc::OutOfMemory, "Out of memory"};
  } catch (...) {
    // Without memory for the prefix the chain is still converted.
    std::string prefix;
    try {
      prefix = "[" + std::string(SENDARA_FUNCTION_NAME) + "]";
    } catch (...) {
    }
    return oru::ExceptionToResult(tracer, prefix);
  }
  if (oru::Failed(outcome.code)) SENDARA_TRACE(tracer, TraceLevel::kError, outcome.message);
  return outcome.code;
}

}  // namespace sendara::base
