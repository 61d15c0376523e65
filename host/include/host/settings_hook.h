#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "component/oru/basic_object.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_hook.h"

namespace reference_host {

// The host's settings hook: hands every incoming client settings record to
// an action the host configures, which may change it or refuse it, and
// counts the records it was handed.
class SettingsHook final
    : public oru::BasicObject<SettingsHook, oru::UncountedObject,
                              sendara::edr_telemetry::IEdrTelemetryClientSettingsHook> {
 public:
  using Action = std::function<oru::Result(sendara::edr_telemetry::EdrTelemetryClientSettings&)>;

  // Without an action every record is accepted as it is.
  explicit SettingsHook(Action action = {});

  // The action runs outside the lock: it may replace itself.
  oru::Result ProcessSettings(sendara::edr_telemetry::EdrTelemetryClientSettings& settings) override
      EXCLUDES(m_mutex);

  void SetAction(Action action) EXCLUDES(m_mutex);
  std::uint32_t Calls() const noexcept { return m_calls; }

 private:
  mutable platform::Mutex m_mutex;
  Action m_action GUARDED_BY(m_mutex);
  std::atomic<std::uint32_t> m_calls{0};
};

}  // namespace reference_host
