#include "component/sendara/edr_telemetry/source/task/connection_event_forwarder.h"

#include <utility>

#include "component/oru/exception_to_result.h"
#include "component/platform/mutex_lock.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::edr_telemetry::task {

using base::TraceLevel;

ConnectionEventForwarder::ConnectionEventForwarder(oru::RefPtr<oru::ITracer> tracer) : m_tracer(std::move(tracer)) {}

void ConnectionEventForwarder::SetPublisher(std::shared_ptr<ConnectionCallbackEventPublisher> publisher) {
  {
    platform::MutexLock lock(&m_mutex);
    std::swap(m_publisher, publisher);
  }
  // The replaced publisher, and the host sinks it may be the last to hold,
  // go outside the lock.
}

void ConnectionEventForwarder::ResetPublisher() { SetPublisher(nullptr); }

void ConnectionEventForwarder::SetTunnel(std::optional<std::string> tunnel) {
  platform::MutexLock lock(&m_mutex);
  m_tunnel = std::move(tunnel);
}

ConnectionEventForwarder::Target ConnectionEventForwarder::CurrentTarget() const {
  platform::MutexLock lock(&m_mutex);
  return {m_publisher, m_tunnel};
}

void ConnectionEventForwarder::Connected(std::string_view serverAddress, std::string_view /*tunnel*/) noexcept {
  try {
    const Target target = CurrentTarget();
    if (target.publisher) target.publisher->Connected(serverAddress, target.tunnel);
  } catch (...) {
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "event dropped: " << oru::DescribeCurrentException());
  }
}

void ConnectionEventForwarder::ConnectionError(const ConnectionErrorInfo& info) noexcept {
  try {
    const Target target = CurrentTarget();
    if (target.publisher) target.publisher->ConnectionError(info.reason, info.serverAddress, target.tunnel);
  } catch (...) {
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "event dropped: " << oru::DescribeCurrentException());
  }
}

void ConnectionEventForwarder::IncorrectSettingsApplying() noexcept {
  try {
    const Target target = CurrentTarget();
    if (target.publisher) target.publisher->IncorrectSettingsApplying();
  } catch (...) {
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "event dropped: " << oru::DescribeCurrentException());
  }
}

}  // namespace sendara::edr_telemetry::task
