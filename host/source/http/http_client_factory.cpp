#include "host/http/http_client_factory.h"

#include <new>
#include <utility>

#include "host/http/http_client.h"

namespace reference_host {

HttpClientFactory::HttpClientFactory() : m_endpointHeaders(std::make_shared<const HttpEndpointHeaders>()) {}

HttpClientFactory::HttpClientFactory(HttpClientConfiguration configuration)
    : m_trustAnchors(std::move(configuration.trustAnchors)),
      m_endpointHeaders(std::make_shared<const HttpEndpointHeaders>(std::move(configuration.endpoints))) {}

oru::Result HttpClientFactory::CreateClient(const oru::HttpClientSettings& settings,
                                            oru::IHttpClient** client) noexcept {
  if (!client) return oru::rc::InvalidArgument;
  *client = nullptr;
  try {
    *client = HttpClient::Create(settings, m_trustAnchors, m_endpointHeaders).Detach();
    return oru::rc::NoError;
  } catch (const std::bad_alloc&) {
    return oru::rc::OutOfMemory;
  } catch (...) {
    return oru::rc::UnspecifiedError;
  }
}

}  // namespace reference_host
