#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"

namespace sendara::base {

bool SensitiveDataTracePolicy::IsAllowed() const noexcept {
  if (!m_policy) return false;
  try {
    return m_policy->CheckSensitiveData(1, 0) == 0;
  } catch (...) {
    return false;
  }
}

}  // namespace sendara::base
