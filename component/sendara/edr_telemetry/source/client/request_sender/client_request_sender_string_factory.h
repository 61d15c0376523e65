#pragma once

#include <memory>

#include "component/sendara/base/detail/request_sender/request_sender_settings.h"
#include "component/sendara/base/detail/request_sender/request_sender_string_factory.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_request_sender_string_factory.h"

namespace sendara::edr_telemetry {

// Request senders over the host's HTTP client, made with the time-outs,
// server certificates, tolerated TLS errors, tunnel and gzip level of the
// client's current settings.
class ClientRequestSenderStringFactory final : public IRequestSenderStringFactory {
 public:
  ClientRequestSenderStringFactory(std::shared_ptr<const base::RequestSenderStringFactory> factory,
                                   std::shared_ptr<IEdrTelemetryClientSettingsProvider> settingsProvider);

  std::shared_ptr<base::IRequestSenderString> CreateRequestSender() override;

  static base::RequestSenderSettings ToRequestSenderSettings(const EdrTelemetryClientSettings& settings);

 private:
  const std::shared_ptr<const base::RequestSenderStringFactory> m_factory;
  const std::shared_ptr<IEdrTelemetryClientSettingsProvider> m_settingsProvider;
};

}  // namespace sendara::edr_telemetry
