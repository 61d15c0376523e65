#include "component/sendara/base/detail/common/stop_callback.h"

#include <string>

#include "component/oru/exception_to_result.h"
#include "component/sendara/base/detail/common/function_name.h"

namespace sendara::base {

StopCallback::StopCallback(const StopToken& token, std::function<void()> callback,
                           oru::RefPtr<oru::ITracer> tracer)
    : m_callback(std::move(callback)), m_tracer(std::move(tracer)), m_state(token.m_state) {
  if (m_state) m_state->Register(this);
}

StopCallback::~StopCallback() {
  if (m_state) m_state->Deregister(this);
}

void StopCallback::Run() noexcept {
  try {
    if (m_callback) m_callback();
  } catch (...) {
    try {
      std::string prefix = "[";
      prefix += SENDARA_FUNCTION_NAME;
      prefix += "] stop callback failed:";
      oru::ExceptionToResult(m_tracer.Get(), prefix);
    } catch (...) {
      // Out of memory for the trace: the stop itself must still go on.
    }
  }
}

}  // namespace sendara::base
