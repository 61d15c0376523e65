#pragma once

#include <atomic>
#include <cstdint>

#include "component/oru/basic_object.h"
#include "component/oru/i_client_certificate_decryptor.h"

namespace reference_host {

// The host's decryptor. Secrets are stored in plain form by this host, so
// decrypting hands them back unchanged; it counts its calls so that tests
// can see where the component asks for it.
class ClientCertificateDecryptor final
    : public oru::BasicObject<ClientCertificateDecryptor, oru::UncountedObject, oru::IClientCertificateDecryptor> {
 public:
  oru::Result Decrypt(std::span<const std::uint8_t> encrypted, std::vector<std::uint8_t>& plain) override {
    ++m_calls;
    plain.assign(encrypted.begin(), encrypted.end());
    return oru::rc::NoError;
  }
  std::uint32_t Calls() const noexcept { return m_calls; }

 private:
  std::atomic<std::uint32_t> m_calls{0};
};

}  // namespace reference_host
