#pragma once

#include <memory>

#include "component/sendara/base/detail/telemetry/i_throttler_settings_source.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_provider.h"

namespace sendara::edr_telemetry {

// The throttler's view of the client settings: the request-count limits of
// the transfer settings.
class EdrTelemetryThrottlerSettingsSource final : public base::telemetry::IThrottlerSettingsSource {
 public:
  explicit EdrTelemetryThrottlerSettingsSource(std::shared_ptr<IEdrTelemetryClientSettingsProvider> provider);

  base::telemetry::ThrottlerSettings GetThrottlerSettings() const override;
  std::shared_ptr<base::ISubscription> SubscribeAndApplyThrottlerSettings(
      std::string clientName,
      std::function<void(const base::telemetry::ThrottlerSettings&)> callback) override;

  static base::telemetry::ThrottlerSettings ToThrottlerSettings(const EdrTelemetryClientSettings& settings);

 private:
  const std::shared_ptr<IEdrTelemetryClientSettingsProvider> m_provider;
};

}  // namespace sendara::edr_telemetry
