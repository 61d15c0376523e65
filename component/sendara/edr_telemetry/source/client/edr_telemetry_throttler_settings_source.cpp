#include "component/sendara/edr_telemetry/source/client/edr_telemetry_throttler_settings_source.h"

#include "component/sendara/base/detail/common/check.h"

namespace sendara::edr_telemetry {

EdrTelemetryThrottlerSettingsSource::EdrTelemetryThrottlerSettingsSource(
    std::shared_ptr<IEdrTelemetryClientSettingsProvider> provider)
    : m_provider(std::move(provider)) {
  SENDARA_CONTRACT(m_provider != nullptr, "settings provider");
}

base::telemetry::ThrottlerSettings EdrTelemetryThrottlerSettingsSource::ToThrottlerSettings(
    const EdrTelemetryClientSettings& settings) {
  const TelemetryTransferSettings& transfer = settings.telemetryTransferSettings;
  return {transfer.useRequestCountLimits, transfer.numberOfEventsInBlock, transfer.eventLimitExceededPercentage,
          transfer.maximumNumberOfEventsInHour};
}

base::telemetry::ThrottlerSettings EdrTelemetryThrottlerSettingsSource::GetThrottlerSettings() const {
  return ToThrottlerSettings(m_provider->GetSettings());
}

std::shared_ptr<base::ISubscription> EdrTelemetryThrottlerSettingsSource::SubscribeAndApplyThrottlerSettings(
    std::string clientName, std::function<void(const base::telemetry::ThrottlerSettings&)> callback) {
  SENDARA_CONTRACT(static_cast<bool>(callback), "callback should be set");
  return m_provider->SubscribeAndApply(std::move(clientName),
                               [callback = std::move(callback)](const EdrTelemetryClientSettings& settings) {
                                 callback(ToThrottlerSettings(settings));
                               });
}

}  // namespace sendara::edr_telemetry
