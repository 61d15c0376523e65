#pragma once

#include <memory>
#include <string>
#include <vector>

#include <boost/signals2/signal.hpp>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
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

  ConnectionParameters GetConnectionParameters() const override EXCLUDES(m_mutex);
  std::shared_ptr<base::ISubscription> Subscribe(std::string clientName,
                                                 SettingsCallback callback) override;
  // The callback runs under the publication lock: it must not change the
  // settings.
  std::shared_ptr<base::ISubscription> SubscribeAndApply(std::string clientName,
                                                         SettingsCallback callback) override
      EXCLUDES(m_publishMutex, m_mutex);
  EdrTelemetryClientSettings GetSettings() const override EXCLUDES(m_mutex);
  void SetSettings(EdrTelemetryClientSettings settings) override EXCLUDES(m_publishMutex, m_mutex);
  void SetExcludedEventTypes(std::vector<std::u16string> eventTypes) override EXCLUDES(m_publishMutex, m_mutex);

 private:
  using SettingsSignal = boost::signals2::signal<void(const EdrTelemetryClientSettings&)>;

  void RunSettingsHook(EdrTelemetryClientSettings& settings);

  const oru::RefPtr<oru::ITracer> m_tracer;
  const oru::RefPtr<IEdrTelemetryClientSettingsHook> m_settingsHook;
  SettingsSignal m_settingsChanged;
  // Held from a change until its subscribers have heard of it; taken before
  // m_mutex, which a change takes to make itself current and a subscriber
  // to read the settings back.
  platform::Mutex m_publishMutex ACQUIRED_BEFORE(m_mutex);
  // Nothing is called back while it is held.
  mutable platform::Mutex m_mutex;
  EdrTelemetryClientSettings m_settings GUARDED_BY(m_mutex);
};

}  // namespace sendara::edr_telemetry
