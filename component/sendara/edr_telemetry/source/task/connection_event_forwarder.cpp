#include "component/sendara/edr_telemetry/source/task/connection_event_forwarder.h"

#include <utility>

#include "component/oru/exception_to_result.h"
#include "component/platform/mutex_lock.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::edr_telemetry::task {

using base::TraceLevel;

namespace {

// The forwarder whose host sink the calling thread is in, if any. Plain
// data: a thread-local with a destructor would keep the module loaded.
thread_local const ConnectionEventForwarder* t_inSinkOf = nullptr;

// Marks the calling thread as in a sink of `forwarder` for its scope.
class InSink {
 public:
  explicit InSink(const ConnectionEventForwarder* forwarder) noexcept : m_outer(t_inSinkOf) { t_inSinkOf = forwarder; }
  ~InSink() { t_inSinkOf = m_outer; }
  InSink(const InSink&) = delete;
  InSink& operator=(const InSink&) = delete;

 private:
  const ConnectionEventForwarder* const m_outer;
};

}  // namespace

bool ConnectionEventForwarder::InSinkCall() const noexcept { return t_inSinkOf == this; }

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
    const InSink inSink(this);
    if (target.publisher) target.publisher->Connected(serverAddress, target.tunnel);
  } catch (...) {
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "event dropped: " << oru::DescribeCurrentException());
  }
}

void ConnectionEventForwarder::ConnectionError(const ConnectionErrorInfo& info) noexcept {
  try {
    const Target target = CurrentTarget();
    const InSink inSink(this);
    if (target.publisher) target.publisher->ConnectionError(info.reason, info.serverAddress, target.tunnel);
  } catch (...) {
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "event dropped: " << oru::DescribeCurrentException());
  }
}

void ConnectionEventForwarder::IncorrectSettingsApplying() noexcept {
  try {
    const Target target = CurrentTarget();
    const InSink inSink(this);
    if (target.publisher) target.publisher->IncorrectSettingsApplying();
  } catch (...) {
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "event dropped: " << oru::DescribeCurrentException());
  }
}

}  // namespace sendara::edr_telemetry::task
