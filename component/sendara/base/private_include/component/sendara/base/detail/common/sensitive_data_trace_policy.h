#pragma once

#include <string_view>

#include "component/oru/i_sensitive_data_policy.h"
#include "component/oru/ref_ptr.h"

namespace sendara::base {

// Decides, through the host's optional sensitive-data policy, whether event
// and request texts may appear in traces. Without the service they may not.
class SensitiveDataTracePolicy {
 public:
  // What a private key is written as, always.
  static constexpr std::string_view kSensitiveData = "<sensitive data>";
  // What stands for a text the policy does not allow to be traced.
  static constexpr std::string_view kHidden = "<sensitive data was hidden>";

  SensitiveDataTracePolicy() = default;
  explicit SensitiveDataTracePolicy(oru::RefPtr<oru::ISensitiveDataPolicy> policy)
      : m_policy(std::move(policy)) {}

  // Asks the host each time: its answer may change while the component runs.
  bool IsAllowed() const noexcept;
  // `text` when it may be traced, kHidden otherwise.
  std::string_view Reveal(std::string_view text) const noexcept {
    return IsAllowed() ? text : kHidden;
  }

 private:
  oru::RefPtr<oru::ISensitiveDataPolicy> m_policy;
};

}  // namespace sendara::base
