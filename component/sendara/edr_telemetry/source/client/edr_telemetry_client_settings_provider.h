#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/signals2/signal.hpp>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_hook.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_provider.h"

namespace sendara::edr_telemetry {

// Keeps the current settings of one client. Every change passes the host's
// settings hook (when there is one) and validation before it becomes
// current, and subscribers hear of it afterwards.
//
// Subscribers are called after the lock has been released, on the thread
// that made the change, so a callback may read the settings again. Changes
// are published one at a time, in the order they became current, so that no
// subscriber is left on an older record; a callback must therefore not make
// a change itself.
class EdrTelemetryClientSettingsProvider final : public IEdrTelemetryClientSettingsProvider {
 public:
  // Raises when the hook refuses `settings` or when they are not valid: a
  // provider never holds settings that failed validation.
  EdrTelemetryClientSettingsProvider(oru::RefPtr<oru::ITracer> tracer,
                                     EdrTelemetryClientSettings settings,
                                     oru::RefPtr<IEdrTelemetryClientSettingsHook> settingsHook = {});
  EdrTelemetryClientSettingsProvider(const EdrTelemetryClientSettingsProvider&) = delete;
  EdrTelemetryClientSettingsProvider& operator=(const EdrTelemetryClientSettingsProvider&) = delete;
  ~EdrTelemetryClientSettingsProvider() override;

  ConnectionParameters GetConnectionParameters() const override;
  std::shared_ptr<base::ISubscription> Subscribe(std::string clientName,
                                                 SettingsCallback callback) override;
  std::shared_ptr<base::ISubscription> SubscribeAndApply(std::string clientName,
                                                         SettingsCallback callback) override;
  EdrTelemetryClientSettings GetSettings() const override;
  void SetSettings(EdrTelemetryClientSettings settings) override;
  void SetExcludedEventTypes(std::vector<std::u16string> eventTypes) override;

 private:
  using SettingsSignal = boost::signals2::signal<void(const EdrTelemetryClientSettings&)>;

  void RunSettingsHook(EdrTelemetryClientSettings& settings);

  const oru::RefPtr<oru::ITracer> m_tracer;
  const oru::RefPtr<IEdrTelemetryClientSettingsHook> m_settingsHook;
  SettingsSignal m_settingsChanged;
  // Held from a change until its subscribers have heard of it.
  std::mutex m_publishMutex;
  // Not recursive: nothing is called back while it is held.
  mutable std::mutex m_mutex;
  EdrTelemetryClientSettings m_settings;
};

}  // namespace sendara::edr_telemetry
