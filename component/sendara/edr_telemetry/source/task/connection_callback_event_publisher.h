#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "component/oru/i_connected_sink.h"
#include "component/oru/i_connection_error_sink.h"
#include "component/oru/i_incorrect_settings_sink.h"
#include "component/oru/i_service_locator.h"
#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"

namespace sendara::edr_telemetry::task {

// Hands connection events to the host's sinks, each of which the host may
// leave out: the events of a missing sink are dropped. The sinks are found
// once, on construction, and never change, so no lock is needed. A sink's
// failure is traced and goes no further.
class ConnectionCallbackEventPublisher {
 public:
  ConnectionCallbackEventPublisher(oru::RefPtr<oru::ITracer> tracer, oru::IServiceLocator* locator);

  void Connected(std::string_view serverAddress, const std::optional<std::string>& tunnel) noexcept;
  // `reason`: a ConnectionErrorReason value, passed to the host in its own
  // terms.
  void ConnectionError(std::uint32_t reason, std::string_view serverAddress,
                       const std::optional<std::string>& tunnel) noexcept;
  // The client certificate of the settings could not be decrypted.
  void IncorrectSettingsApplying() noexcept;

 private:
  const oru::RefPtr<oru::ITracer> m_tracer;
  const oru::RefPtr<oru::IConnectedSink> m_connectedSink;
  const oru::RefPtr<oru::IConnectionErrorSink> m_connectionErrorSink;
  const oru::RefPtr<oru::IIncorrectSettingsSink> m_incorrectSettingsSink;
};

}  // namespace sendara::edr_telemetry::task
