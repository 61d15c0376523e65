#include "component/sendara/edr_telemetry/source/client/request_sender/client_request_sender_string_factory.h"

#include <utility>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/contract_exception.h"

namespace sendara::edr_telemetry {

ClientRequestSenderStringFactory::ClientRequestSenderStringFactory(
    std::shared_ptr<const base::RequestSenderStringFactory> factory,
    std::shared_ptr<IEdrTelemetryClientSettingsProvider> settingsProvider)
    : m_factory(std::move(factory)), m_settingsProvider(std::move(settingsProvider)) {
  SENDARA_CONTRACT(m_factory && m_settingsProvider, "no request sender factory or settings provider");
  m_gzipLevel = m_settingsProvider->GetSettings().gzipCompressionLevel;
}

std::shared_ptr<base::IRequestSenderString> ClientRequestSenderStringFactory::CreateRequestSender() {
  base::RequestSenderSettings settings = ToRequestSenderSettings(m_settingsProvider->GetSettings());
  settings.gzipLevel = m_gzipLevel;
  return m_factory->CreateRequestSender(settings);
}

base::RequestSenderSettings ClientRequestSenderStringFactory::ToRequestSenderSettings(
    const EdrTelemetryClientSettings& settings) {
  base::RequestSenderSettings out;
  out.connectionTimeout = settings.timeoutConnection;
  out.requestTimeout = settings.timeoutRequest;
  out.serverCerts = settings.serverCerts;
  out.validTlsErrors = settings.validTlsErrors;
  out.tunnel = settings.tunnel;
  out.gzipLevel = settings.gzipCompressionLevel;
  return out;
}

}  // namespace sendara::edr_telemetry
