#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "component/oru/basic_object.h"
#include "component/oru/http_client_settings.h"
#include "component/oru/http_method.h"
#include "component/oru/http_request_options.h"
#include "component/oru/i_http_request_callback.h"
#include "component/oru/i_http_request_controller.h"
#include "component/oru/module_object_counter.h"
#include "host/http/http_trust_anchors.h"
#include "host/http/server_certificate_check.h"

namespace reference_host {

class HttpEndpointHeaders;
class HttpTransferLoop;

// One request of an HttpClient: its libcurl transfer, what the transfer
// reads from (URL, headers, the shared body) and the callback it reports to.
// It is the request's controller too. Prepared on the caller's thread, then
// owned by the client's transfer loop, whose thread alone touches the
// transfer and completes the request.
class HttpRequest final
    : public oru::BasicObject<HttpRequest, oru::UncountedObject, oru::IHttpRequestController> {
 public:
  HttpRequest(std::weak_ptr<HttpTransferLoop> loop, oru::RefPtr<oru::IHttpRequestCallback> callback);
  ~HttpRequest() override;

  // Sets the transfer up; InvalidArgument for a URI, header or method it
  // cannot send, and nothing started. The operator's `trustAnchors` join the
  // system's trust store for an https URI; the operator's headers for the
  // endpoint the URI names follow the request's own.
  oru::Result Prepare(oru::HttpMethod method, std::string_view uri, const oru::HttpRequestOptions& options,
                      const oru::HttpClientSettings& settings, std::shared_ptr<const std::string> body,
                      const HttpTrustAnchors& trustAnchors, const HttpEndpointHeaders& endpointHeaders);

  // A header with a name, no ":" in it, and no line break in its name or
  // value: a line break would let a value add headers of its own.
  static bool CanSend(const oru::HttpHeader& header) noexcept;

  oru::Result Cancel() noexcept override;

  // For the transfer loop.
  CURL* Transfer() const noexcept { return m_transfer; }
  bool CancelRequested() const noexcept { return m_cancelled.load(std::memory_order_acquire); }
  // Completes the request after its transfer ended with `code`.
  void Complete(CURLcode code) noexcept;
  // Completes the request with `result` and no status (cancelled, or never
  // started). Only the first completion counts.
  void Complete(oru::Result result) noexcept;

 private:
  // The most of an answer's body read: past it the transfer ends, and the
  // status decides. As much as the component keeps of an answer.
  static constexpr std::size_t kMaxAnswerBody = 1024 * 1024;

  static std::size_t ReceiveBody(char* data, std::size_t size, std::size_t count, void* self) noexcept;
  static std::size_t ReceiveHeader(char* data, std::size_t size, std::size_t count, void* self) noexcept;
  // Starts the request's own time once the connection (and its TLS
  // handshake) is made; the connect has a time-out of its own.
  static int BeforeRequest(void* self, char* primaryIp, char* localIp, int primaryPort, int localPort) noexcept;
  static int Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept;
  oru::Result AppendHeader(const oru::HttpHeader& header);
  oru::Result ResultOf(CURLcode code) const noexcept;
  void Finish(oru::Result result, std::uint16_t status) noexcept;

  const std::weak_ptr<HttpTransferLoop> m_loop;
  oru::RefPtr<oru::IHttpRequestCallback> m_callback;
  std::shared_ptr<const std::string> m_body;
  std::string m_url;
  std::string m_proxy;
  // Shared with the TLS context of the connection the request opens (see
  // ServerCertificateCheck::InstallInContext).
  std::shared_ptr<ServerCertificateCheck> m_certificateCheck;
  curl_slist* m_headers = nullptr;
  CURL* m_transfer = nullptr;
  std::atomic<bool> m_cancelled{false};
  bool m_completed = false;
  // Touched on the transfer loop's thread only.
  std::uint32_t m_requestTimeout = 0;
  std::chrono::steady_clock::time_point m_requestStart{};
  bool m_requestTimedOut = false;
  // The header of a final answer (a status of 200 or above) has come whole.
  bool m_finalAnswer = false;
  std::size_t m_bodyBytes = 0;
  bool m_bodyCut = false;
};

}  // namespace reference_host
