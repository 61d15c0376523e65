#pragma once

#include "component/oru/basic_object.h"
#include "component/oru/i_http_client_factory.h"
#include "component/oru/module_object_counter.h"

namespace reference_host {

// The host's HTTP client service: makes libcurl-based clients.
class HttpClientFactory final
    : public oru::BasicObject<HttpClientFactory, oru::UncountedObject, oru::IHttpClientFactory> {
 public:
  HttpClientFactory() = default;

  oru::Result CreateClient(const oru::HttpClientSettings& settings, oru::IHttpClient** client) noexcept override;
};

}  // namespace reference_host
