#include "host/http/http_trust_anchors.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>

namespace reference_host {
namespace {

using sendara::base::BioPtr;
using sendara::base::X509Ptr;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::string text;
  if (file) text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (!file || file.bad()) throw std::runtime_error("cannot read CA certificates from " + path.string());
  return text;
}

// The certificates of one file, added to `certificates`; how many.
std::size_t ReadCertificates(const std::filesystem::path& path, std::vector<X509Ptr>& certificates) {
  const std::string text = ReadFile(path);
  if (text.empty()) return 0;
  ERR_clear_error();
  BioPtr bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
  if (!bio) throw std::runtime_error("cannot read CA certificates from " + path.string());
  std::size_t count = 0;
  // PEM_read_bio_X509 passes over blocks of other kinds (keys, CRLs); it ends
  // with "no start line" once no certificate is left, and with another error
  // at a certificate it cannot read.
  while (X509Ptr certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
    certificates.push_back(std::move(certificate));
    ++count;
  }
  const unsigned long error = ERR_peek_last_error();
  ERR_clear_error();
  if (ERR_GET_LIB(error) != ERR_LIB_PEM || ERR_GET_REASON(error) != PEM_R_NO_START_LINE) {
    throw std::runtime_error("a CA certificate in " + path.string() + " cannot be read");
  }
  return count;
}

std::size_t ReadFolder(const std::filesystem::path& folder, std::vector<X509Ptr>& certificates) {
  std::vector<std::filesystem::path> files;
  try {
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(folder)) {
      std::error_code ignored;
      if (entry.is_regular_file(ignored)) files.push_back(entry.path());
    }
  } catch (const std::filesystem::filesystem_error&) {
    throw std::runtime_error("cannot read CA certificates from " + folder.string());
  }
  // The same folder gives the same anchors in the same order.
  std::sort(files.begin(), files.end());
  std::size_t count = 0;
  for (const std::filesystem::path& file : files) count += ReadCertificates(file, certificates);
  return count;
}

}  // namespace

HttpTrustAnchors HttpTrustAnchors::Load(const std::vector<std::filesystem::path>& paths) {
  auto certificates = std::make_shared<std::vector<X509Ptr>>();
  for (const std::filesystem::path& path : paths) {
    std::error_code ignored;
    const std::size_t count = std::filesystem::is_directory(path, ignored) ? ReadFolder(path, *certificates)
                                                                           : ReadCertificates(path, *certificates);
    if (count == 0) throw std::runtime_error("no CA certificate in " + path.string());
  }
  return HttpTrustAnchors(std::move(certificates));
}

bool HttpTrustAnchors::AddTo(X509_STORE* store) const noexcept {
  if (Empty()) return true;
  if (!store) return false;
  // The errors of a duplicate are let go, and nothing else of the thread's.
  ERR_set_mark();
  for (const X509Ptr& certificate : *m_certificates) {
    // The store takes a reference of its own. libcurl may hand every new
    // connection of a client the same store (its CA cache), which then holds
    // the anchors from the first connection on: OpenSSL 1.1.1 and later take
    // a certificate the store holds already as added, older ones say so by
    // an error of their own.
    if (X509_STORE_add_cert(store, certificate.get()) != 1) {
      const unsigned long error = ERR_peek_last_error();
      if (ERR_GET_LIB(error) != ERR_LIB_X509 || ERR_GET_REASON(error) != X509_R_CERT_ALREADY_IN_HASH_TABLE) {
        return false;
      }
    }
  }
  ERR_pop_to_mark();
  return true;
}

}  // namespace reference_host
