#include "component/sendara/base/detail/request_sender/request_sender_string_factory.h"

#include <utility>

#include "component/oru/http_client_settings.h"
#include "component/oru/i_http_client_factory.h"
#include "component/oru/service_ids.h"
#include "component/sendara/base/detail/certificates/server_certificate_handler.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/request_sender/request_sender_string.h"
#include "component/sendara/base/detail/request_sender/validate_tunnel_address.h"

namespace sendara::base {
namespace {

constexpr std::string_view kCantCreateClient = "can't create http client";

oru::RefPtr<oru::IHttpClientFactory> FindClientFactory(oru::IServiceLocator* locator) {
  void* object = nullptr;
  oru::Result result = oru::rc::NotFound;
  if (locator) {
    try {
      result = locator->GetInterface(oru::service_ids::kHttpClientFactory, 0, &object);
    } catch (...) {
      SENDARA_THROW(sendara_exception, oru::rc::UnspecifiedError, std::string(kCantCreateClient));
    }
  }
  if (oru::Failed(result) || !object) {
    SENDARA_THROW(sendara_exception, oru::Failed(result) ? result : oru::rc::NotFound,
                  std::string(kCantCreateClient));
  }
  return oru::RefPtr<oru::IHttpClientFactory>::Adopt(static_cast<oru::IHttpClientFactory*>(object));
}

}  // namespace

RequestSenderStringFactory::RequestSenderStringFactory(oru::RefPtr<oru::IServiceLocator> locator,
                                                       oru::RefPtr<oru::ITracer> tracer,
                                                       SensitiveDataTracePolicy policy)
    : m_locator(std::move(locator)), m_tracer(std::move(tracer)), m_policy(std::move(policy)) {}

std::unique_ptr<IRequestSenderString> RequestSenderStringFactory::CreateRequestSender(
    const RequestSenderSettings& settings) const {
  if (settings.tunnel) ValidateTunnelAddress(*settings.tunnel);

  oru::HttpClientSettings clientSettings;
  clientSettings.connectionTimeout = settings.connectionTimeout;
  clientSettings.requestTimeout = settings.requestTimeout;
  clientSettings.tunnel = settings.tunnel;
  // Without certificates of its own the client keeps the system's checks.
  if (!settings.serverCerts.empty()) {
    clientSettings.verification =
        ServerCertificateHandler::Create(m_tracer, settings.serverCerts, settings.validTlsErrors);
  }

  const auto factory = FindClientFactory(m_locator.Get());
  oru::IHttpClient* rawClient = nullptr;
  const oru::Result created = factory->CreateClient(clientSettings, &rawClient);
  auto client = oru::RefPtr<oru::IHttpClient>::Adopt(rawClient);
  if (oru::Failed(created) || !client) {
    SENDARA_THROW(sendara_exception, oru::Failed(created) ? created : oru::rc::Unexpected,
                  std::string(kCantCreateClient));
  }
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                "http client created; tunnel = " << settings.tunnel.value_or("{none}")
                                                 << "; own server certificate = "
                                                 << (clientSettings.verification ? "yes" : "no"));
  return std::make_unique<RequestSenderString>(m_tracer, m_policy, std::move(client),
                                               settings.connectionTimeout, settings.requestTimeout,
                                               settings.tunnel, settings.gzipLevel);
}

}  // namespace sendara::base
