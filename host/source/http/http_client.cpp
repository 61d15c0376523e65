#include "host/http/http_client.h"

#include <curl/curl.h>

#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>

#include "host/http/http_request.h"
#include "host/http/http_transfer_loop.h"

namespace reference_host {
namespace {

// libcurl's global set-up, once per process and never undone: other clients,
// or other users of libcurl in the host, may still need it.
void InitializeLibcurl() {
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (result != CURLE_OK) throw std::runtime_error("libcurl could not be initialized");
}

std::shared_ptr<HttpTransferLoop> MakeLoop() {
  InitializeLibcurl();
  return std::make_shared<HttpTransferLoop>();
}

}  // namespace

HttpClient::HttpClient(oru::HttpClientSettings settings, HttpTrustAnchors trustAnchors,
                       std::shared_ptr<const HttpEndpointHeaders> endpointHeaders)
    : m_settings(std::move(settings)),
      m_trustAnchors(std::move(trustAnchors)),
      m_endpointHeaders(endpointHeaders ? std::move(endpointHeaders) : std::make_shared<const HttpEndpointHeaders>()),
      m_loop(MakeLoop()) {
  // The thread owns the loop too: see ~HttpClient.
  m_thread = std::thread([loop = m_loop] { loop->Run(); });
}

HttpClient::~HttpClient() {
  m_loop->Stop();
  // Released from one of its own callbacks, the client cannot wait for its
  // own thread; the thread ends the remaining requests with the loop it
  // shares and returns by itself.
  if (m_thread.get_id() == std::this_thread::get_id()) {
    m_thread.detach();
  } else {
    m_thread.join();
  }
}

oru::Result HttpClient::MakeRequestAsync(oru::HttpMethod method, std::string_view uri,
                                         const oru::HttpRequestOptions& options,
                                         std::shared_ptr<const std::string> body,
                                         oru::IHttpRequestCallback* callback,
                                         oru::IHttpRequestController** controller) noexcept {
  if (!callback) return oru::rc::InvalidArgument;
  if (controller) *controller = nullptr;
  try {
    auto request = HttpRequest::Create(m_loop, oru::RefPtr<oru::IHttpRequestCallback>(callback));
    const oru::Result prepared = request->Prepare(method, uri, options, m_settings, std::move(body), m_trustAnchors,
                                                     *m_endpointHeaders);
    if (oru::Failed(prepared)) return prepared;
    // The controller is handed out before the loop can complete the request,
    // so that the caller's reference exists whatever the loop does.
    oru::RefPtr<HttpRequest> handedOut = request;
    const oru::Result submitted = m_loop->Submit(std::move(request));
    if (oru::Failed(submitted)) return submitted;
    if (controller) *controller = handedOut.Detach();
    return oru::rc::NoError;
  } catch (const std::bad_alloc&) {
    return oru::rc::OutOfMemory;
  } catch (...) {
    return oru::rc::UnspecifiedError;
  }
}

}  // namespace reference_host
