#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "component/oru/basic_object.h"
#include "component/oru/http_client_settings.h"
#include "component/oru/i_http_client.h"
#include "component/oru/module_object_counter.h"
#include "host/http/http_endpoint_headers.h"
#include "host/http/http_trust_anchors.h"

namespace reference_host {

class HttpTransferLoop;

// The host's HTTP client, on libcurl: one multi handle, driven by a thread
// of the client's own. Destroying the client ends its pending requests with
// OperationCancelled on that thread and waits for it.
class HttpClient final : public oru::BasicObject<HttpClient, oru::UncountedObject, oru::IHttpClient> {
 public:
  // Throws when libcurl cannot be set up or the thread cannot start. The
  // operator's `trustAnchors` and `endpointHeaders` (null: none) are shared
  // with the factory and its other clients.
  explicit HttpClient(oru::HttpClientSettings settings, HttpTrustAnchors trustAnchors = {},
                      std::shared_ptr<const HttpEndpointHeaders> endpointHeaders = nullptr);
  ~HttpClient() override;

  oru::Result MakeRequestAsync(oru::HttpMethod method, std::string_view uri, const oru::HttpRequestOptions& options,
                               std::shared_ptr<const std::string> body, oru::IHttpRequestCallback* callback,
                               oru::IHttpRequestController** controller) noexcept override;

 private:
  const oru::HttpClientSettings m_settings;
  const HttpTrustAnchors m_trustAnchors;
  const std::shared_ptr<const HttpEndpointHeaders> m_endpointHeaders;
  const std::shared_ptr<HttpTransferLoop> m_loop;
  std::thread m_thread;
};

}  // namespace reference_host
