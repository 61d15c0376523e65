#pragma once

#include <atomic>
#include <cstdint>

#include "component/oru/basic_object.h"
#include "component/oru/i_sensitive_data_policy.h"

namespace reference_host {

// The host's sensitive-data policy: allows event texts in traces or not, as
// the host's configuration says, and counts the questions it was asked.
class SensitiveDataPolicy final
    : public oru::BasicObject<SensitiveDataPolicy, oru::UncountedObject, oru::ISensitiveDataPolicy> {
 public:
  explicit SensitiveDataPolicy(bool allowed) : m_allowed(allowed) {}

  oru::Result CheckSensitiveData(std::uint32_t category, std::uint32_t flags) override;

  void SetAllowed(bool allowed) noexcept { m_allowed = allowed; }
  std::uint32_t Questions() const noexcept { return m_questions; }

 private:
  std::atomic<bool> m_allowed;
  std::atomic<std::uint32_t> m_questions{0};
};

}  // namespace reference_host
