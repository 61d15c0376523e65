#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_provider.h"

#include <type_traits>
#include <utility>

#include <boost/json/serialize.hpp>

#include "component/platform/mutex_lock.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/base/detail/common/thread_safe_subscription.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_json.h"

namespace sendara::edr_telemetry {
namespace {

// A change is prepared on copies and made current with one move, so a copy
// that fails for lack of memory leaves the current record whole.
static_assert(std::is_nothrow_move_assignable_v<EdrTelemetryClientSettings>);
static_assert(std::is_nothrow_move_assignable_v<std::vector<std::u16string>>);

using SettingsSubscription = base::ThreadSafeSubscription<void(const EdrTelemetryClientSettings&)>;

}  // namespace

EdrTelemetryClientSettingsProvider::EdrTelemetryClientSettingsProvider(
    oru::RefPtr<oru::ITracer> tracer, EdrTelemetryClientSettings settings,
    oru::RefPtr<IEdrTelemetryClientSettingsHook> settingsHook)
    : m_tracer(std::move(tracer)), m_settingsHook(std::move(settingsHook)) {
  RunSettingsHook(settings);
  m_settings = std::move(settings);
  SENDARA_TRACE(m_tracer, base::TraceLevel::kInfo, "settings = " << ToTraceString(m_settings));
  ValidateSettings(m_settings, nullptr);
}

EdrTelemetryClientSettingsProvider::~EdrTelemetryClientSettingsProvider() = default;

ConnectionParameters EdrTelemetryClientSettingsProvider::GetConnectionParameters() const {
  ConnectionParameters parameters;
  platform::MutexLock lock(&m_mutex);
  parameters.clientCert = m_settings.clientCert;
  parameters.serverCerts = m_settings.serverCerts;
  parameters.validTlsErrors = m_settings.validTlsErrors;
  parameters.timeoutConnection = m_settings.timeoutConnection;
  parameters.timeoutRequest = m_settings.timeoutRequest;
  parameters.tunnel = m_settings.tunnel;
  return parameters;
}

std::shared_ptr<base::ISubscription> EdrTelemetryClientSettingsProvider::Subscribe(
    std::string clientName, SettingsCallback callback) {
  // An empty callback would fail on every change, far from the mistake.
  SENDARA_CONTRACT(static_cast<bool>(callback), "callback should be set");
  return std::make_shared<SettingsSubscription>(m_tracer, m_settingsChanged, std::move(clientName),
                                                std::move(callback));
}

std::shared_ptr<base::ISubscription> EdrTelemetryClientSettingsProvider::SubscribeAndApply(
    std::string clientName, SettingsCallback callback) {
  SENDARA_CONTRACT(static_cast<bool>(callback), "callback should be set");
  // The publication lock first, then m_mutex in GetSettings: no change can
  // come between the subscription and the current settings.
  platform::MutexLock publish(&m_publishMutex);
  auto subscription = Subscribe(std::move(clientName), callback);
  callback(GetSettings());
  return subscription;
}

EdrTelemetryClientSettings EdrTelemetryClientSettingsProvider::GetSettings() const {
  platform::MutexLock lock(&m_mutex);
  return m_settings;
}

void EdrTelemetryClientSettingsProvider::SetSettings(EdrTelemetryClientSettings settings) {
  // The hook is the host's code: it runs outside the lock.
  RunSettingsHook(settings);

  // The publication lock first, then m_mutex: changes reach the subscribers
  // in the order they became current.
  platform::MutexLock publish(&m_publishMutex);
  EdrTelemetryClientSettings published;
  {
    platform::MutexLock lock(&m_mutex);
    ValidateSettings(settings, &m_settings);
    // The excluded event types are set through SetExcludedEventTypes only.
    settings.excludedEventTypes = m_settings.excludedEventTypes;
    SENDARA_TRACE(m_tracer, base::TraceLevel::kInfo, "settings = " << ToTraceString(settings));
    published = settings;
    m_settings = std::move(settings);
  }
  // Outside the lock, so that subscribers may call back into the provider.
  m_settingsChanged(published);
}

void EdrTelemetryClientSettingsProvider::SetExcludedEventTypes(std::vector<std::u16string> eventTypes) {
  SENDARA_TRACE(m_tracer, base::TraceLevel::kInfo,
                "new excluded event types = { \"data\" : "
                    << boost::json::serialize(EventTypesToTraceJson(eventTypes)) << "}");

  // As in SetSettings: the publication lock, then m_mutex.
  platform::MutexLock publish(&m_publishMutex);
  EdrTelemetryClientSettings published;
  {
    platform::MutexLock lock(&m_mutex);
    published = m_settings;
    published.excludedEventTypes = std::move(eventTypes);
    std::vector<std::u16string> current = *published.excludedEventTypes;
    m_settings.excludedEventTypes = std::move(current);
  }
  m_settingsChanged(published);
}

void EdrTelemetryClientSettingsProvider::RunSettingsHook(EdrTelemetryClientSettings& settings) {
  if (!m_settingsHook) return;
  SENDARA_CHECK_RESULT(m_settingsHook->ProcessSettings(settings), base::sendara_exception,
                       "settings hook refused the settings");
}

}  // namespace sendara::edr_telemetry
