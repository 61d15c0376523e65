#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
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

  void SetPublisher(std::shared_ptr<ConnectionCallbackEventPublisher> publisher);
  void ResetPublisher();
  // The tunnel the host is told of with every later event.
  void SetTunnel(std::optional<std::string> tunnel);

  // The senders call these on their worker threads: nothing escapes them, a
  // failure is traced. The sender's `tunnel` is not passed on: the host
  // knows the tunnel it configured, which is the task's.
  void Connected(std::string_view serverAddress, std::string_view tunnel) noexcept override;
  void ConnectionError(const ConnectionErrorInfo& info) noexcept override;
  void IncorrectSettingsApplying() noexcept;

 private:
  struct Target {
    std::shared_ptr<ConnectionCallbackEventPublisher> publisher;
    std::optional<std::string> tunnel;
  };

  // A copy taken under the lock.
  Target CurrentTarget() const;

  const oru::RefPtr<oru::ITracer> m_tracer;
  mutable std::mutex m_mutex;
  std::shared_ptr<ConnectionCallbackEventPublisher> m_publisher;
  std::optional<std::string> m_tunnel;
};

}  // namespace sendara::edr_telemetry::task
