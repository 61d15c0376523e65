#pragma once

#include <memory>

#include "component/oru/basic_object.h"
#include "component/oru/i_http_client_factory.h"
#include "component/oru/module_object_counter.h"
#include "host/http/http_client_configuration.h"
#include "host/http/http_endpoint_headers.h"
#include "host/http/http_trust_anchors.h"

namespace reference_host {

// The host's HTTP client service: makes libcurl-based clients, every one of
// them with the operator's configuration.
class HttpClientFactory final
    : public oru::BasicObject<HttpClientFactory, oru::UncountedObject, oru::IHttpClientFactory> {
 public:
  // No configuration of the operator's: the system's trust store alone, no
  // headers added.
  HttpClientFactory();
  // Takes the configuration over (move it in: the header values are secrets,
  // and the factory keeps the one copy its clients share). Throws
  // std::invalid_argument naming an endpoint URL that is no http or https
  // URL, or a header that cannot be sent (see HttpEndpointHeaders).
  explicit HttpClientFactory(HttpClientConfiguration configuration);

  oru::Result CreateClient(const oru::HttpClientSettings& settings, oru::IHttpClient** client) noexcept override;

 private:
  const HttpTrustAnchors m_trustAnchors;
  const std::shared_ptr<const HttpEndpointHeaders> m_endpointHeaders;
};

}  // namespace reference_host
