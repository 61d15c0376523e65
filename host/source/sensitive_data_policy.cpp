#include "host/sensitive_data_policy.h"

namespace reference_host {

oru::Result SensitiveDataPolicy::CheckSensitiveData(std::uint32_t category, std::uint32_t flags) {
  ++m_questions;
  // Only the question about event and request texts is known here.
  if (category != 1 || flags != 0) return oru::rc::InvalidArgument;
  return m_allowed ? oru::rc::NoError : oru::rc::Prohibited;
}

}  // namespace reference_host
