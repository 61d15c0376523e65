// Hands the input to Pkcs12ToPem as a client certificate container and its
// password. Nothing may crash, trip a sanitizer or hang; a conversion either
// succeeds with both outputs set or fails and leaves them as they were.
//
// Input: container bytes, password bytes, then one last byte: its low 7 bits
// the password's length, its high bit set to hand the password over as it
// is (no terminating zero added, so that the argument checks see any bytes).
// OpenSSL comes from tlsbridge_1_1.so next to this program.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <span>
#include <string>
#include <vector>

#include "component/oru/result_code.h"
#include "component/sendara/base/detail/certificates/pkcs12_to_pem.h"
#include "component/tlsbridge/tls_bridge_loader.h"

// Without the TLS library every input would end in the same failure: the
// run stops at once instead.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  try {
    tlsbridge::TlsBridgeLoader::Instance().Resolve("OpenSSL_version_num");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "pkcs12_fuzzer: %s\n", error.what());
    std::exit(1);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t last = data[size - 1];
  const std::size_t passwordSize = std::min<std::size_t>(last & 0x7F, size - 1);
  const std::size_t containerSize = size - 1 - passwordSize;
  const std::span<const std::uint8_t> container(data, containerSize);
  std::vector<std::uint8_t> password(data + containerSize, data + containerSize + passwordSize);
  // As the task hands it over: the text and its terminating zero.
  if ((last & 0x80) == 0) password.push_back(0);

  const std::string certificateBefore = "untouched";
  const std::vector<std::uint8_t> keyBefore(certificateBefore.begin(), certificateBefore.end());
  std::string certificate = certificateBefore;
  std::vector<std::uint8_t> key = keyBefore;
  const oru::Result result = sendara::base::Pkcs12ToPem(container, password, certificate, key);
  if (oru::Succeeded(result)) {
    if (certificate.rfind("-----BEGIN CERTIFICATE-----", 0) != 0 || key.empty()) __builtin_trap();
  } else if (certificate != certificateBefore || key != keyBefore) {
    __builtin_trap();
  }
  return 0;
}
