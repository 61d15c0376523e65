#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "component/sendara/base/detail/request_sender/request_sender_settings.h"
#include "component/sendara/base/detail/request_sender/request_sender_string_factory.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_request_sender_string_factory.h"

namespace sendara::edr_telemetry {

// Request senders over the host's HTTP client, made with the time-outs,
// server certificates, tolerated TLS errors and tunnel of the client's
// current settings. The gzip level is the one set last (at first, the one
// of the settings at construction): a client changes it when it starts.
class ClientRequestSenderStringFactory final : public IRequestSenderStringFactory {
 public:
  ClientRequestSenderStringFactory(std::shared_ptr<const base::RequestSenderStringFactory> factory,
                                   std::shared_ptr<IEdrTelemetryClientSettingsProvider> settingsProvider);

  std::shared_ptr<base::IRequestSenderString> CreateRequestSender() override;
  void SetGzipLevel(std::uint32_t level) noexcept { m_gzipLevel = level; }

  static base::RequestSenderSettings ToRequestSenderSettings(const EdrTelemetryClientSettings& settings);

 private:
  const std::shared_ptr<const base::RequestSenderStringFactory> m_factory;
  const std::shared_ptr<IEdrTelemetryClientSettingsProvider> m_settingsProvider;
  std::atomic<std::uint32_t> m_gzipLevel;
};

}  // namespace sendara::edr_telemetry
