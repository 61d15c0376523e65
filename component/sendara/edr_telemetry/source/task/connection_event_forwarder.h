#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_connection_event_handler.h"
#include "component/sendara/edr_telemetry/source/task/connection_callback_event_publisher.h"

namespace sendara::edr_telemetry::task {

// The connection event handler the task hands to every client it creates:
// passes the clients' events to the publisher while the task has one (while
// a client of it is started), with the tunnel the task configured. Without a
// publisher events are dropped.
//
// The lock guards only the publisher and the tunnel: an event copies both and
// calls the publisher after letting it go, so that a host sink that calls
// back into the task (which takes its own lock, then this one) cannot
// deadlock, and a slow sink holds up no other event.
class ConnectionEventForwarder final : public IConnectionEventHandler {
 public:
  explicit ConnectionEventForwarder(oru::RefPtr<oru::ITracer> tracer);

  void SetPublisher(std::shared_ptr<ConnectionCallbackEventPublisher> publisher) EXCLUDES(m_mutex);
  void ResetPublisher() EXCLUDES(m_mutex);
  // The tunnel the host is told of with every later event.
  void SetTunnel(std::optional<std::string> tunnel) EXCLUDES(m_mutex);

  // The senders call these on their worker threads: nothing escapes them, a
  // failure is traced. The sender's `tunnel` is not passed on: the host
  // knows the tunnel it configured, which is the task's.
  void Connected(std::string_view serverAddress, std::string_view tunnel) noexcept override;
  void ConnectionError(const ConnectionErrorInfo& info) noexcept override;
  void IncorrectSettingsApplying() noexcept;
  // Whether the calling thread is inside a host sink this forwarder called:
  // a sending thread of one of the task's clients, which a stop of the task
  // may be waiting for.
  bool InSinkCall() const noexcept;

 private:
  struct Target {
    std::shared_ptr<ConnectionCallbackEventPublisher> publisher;
    std::optional<std::string> tunnel;
  };

  // A copy taken under the lock.
  Target CurrentTarget() const EXCLUDES(m_mutex);

  const oru::RefPtr<oru::ITracer> m_tracer;
  // A leaf, taken after the task's lock.
  mutable platform::Mutex m_mutex;
  std::shared_ptr<ConnectionCallbackEventPublisher> m_publisher GUARDED_BY(m_mutex);
  std::optional<std::string> m_tunnel GUARDED_BY(m_mutex);
};

}  // namespace sendara::edr_telemetry::task
