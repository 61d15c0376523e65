#include "host/http/http_request.h"

#include <openssl/x509_vfy.h>
#include <string.h>  // explicit_bzero

#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <utility>

#include "component/oru/http_result.h"
#include "host/http/http_endpoint_headers.h"
#include "host/http/http_transfer_loop.h"

namespace reference_host {
namespace {

// Owns a parsed URL for the length of Prepare.
struct UrlHandle {
  CURLU* url = curl_url();
  ~UrlHandle() { curl_url_cleanup(url); }
};

std::string UrlPart(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, 0) != CURLUE_OK || !text) return {};
  std::string copy(text);
  curl_free(text);
  return copy;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// Overwrites a text that held a header's value before it is freed: the
// operator's values are secrets, kept only where and while libcurl needs
// them (the request's header lines, overwritten as the request goes).
void Wipe(char* text, std::size_t size) noexcept {
  if (text) explicit_bzero(text, size);
}

// The proxy URL of a tunnel text: "a.b.c.d:port", "[v6]:port", or a bare
// address, for which libcurl uses its default proxy port. A bare IPv6
// address needs brackets to be read as a host.
std::string ProxyOf(const std::string& tunnel) {
  const bool bareIpv6 = tunnel.find(':') != tunnel.rfind(':') && tunnel.front() != '[';
  return bareIpv6 ? "http://[" + tunnel + "]" : "http://" + tunnel;
}

}  // namespace

HttpRequest::HttpRequest(std::weak_ptr<HttpTransferLoop> loop, oru::RefPtr<oru::IHttpRequestCallback> callback)
    : m_loop(std::move(loop)), m_callback(std::move(callback)) {}

HttpRequest::~HttpRequest() {
  if (m_transfer) curl_easy_cleanup(m_transfer);
  for (curl_slist* line = m_headers; line; line = line->next) {
    if (line->data) Wipe(line->data, std::strlen(line->data));
  }
  curl_slist_free_all(m_headers);
}

oru::Result HttpRequest::Prepare(oru::HttpMethod method, std::string_view uri, const oru::HttpRequestOptions& options,
                                 const oru::HttpClientSettings& settings, std::shared_ptr<const std::string> body,
                                 const HttpTrustAnchors& trustAnchors, const HttpEndpointHeaders& endpointHeaders) {
  if (method != oru::HttpMethod::kGet && method != oru::HttpMethod::kPost) return oru::rc::InvalidArgument;

  // The URI is checked here so that a caller learns of a bad one at once,
  // and the host is needed for the certificate's name check.
  m_url.assign(uri);
  UrlHandle url;
  if (!url.url) return oru::rc::OutOfMemory;
  if (curl_url_set(url.url, CURLUPART_URL, m_url.c_str(), 0) != CURLUE_OK) return oru::rc::InvalidArgument;
  const std::string scheme = UrlPart(url.url, CURLUPART_SCHEME);
  if (scheme != "http" && scheme != "https") return oru::rc::InvalidArgument;
  std::string host = UrlPart(url.url, CURLUPART_HOST);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) return oru::rc::InvalidArgument;

  for (const oru::HttpHeader& header : options.headers) {
    if (const oru::Result appended = AppendHeader(header); oru::Failed(appended)) return appended;
  }
  for (const std::span<const oru::HttpHeader> headers : endpointHeaders.For(url.url)) {
    for (const oru::HttpHeader& header : headers) {
      if (const oru::Result appended = AppendHeader(header); oru::Failed(appended)) return appended;
    }
  }
  // libcurl would wait for a "100 Continue" before sending a large body;
  // the servers this client talks to need no such round trip.
  if (curl_slist* appended = curl_slist_append(m_headers, "Expect:")) {
    m_headers = appended;
  } else {
    return oru::rc::OutOfMemory;
  }

  m_transfer = curl_easy_init();
  if (!m_transfer) return oru::rc::OutOfMemory;

  // Stops at the first option libcurl refuses.
  CURLcode code = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (code == CURLE_OK) code = curl_easy_setopt(m_transfer, option, value);
  };
  set(CURLOPT_URL, m_url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_HTTPHEADER, m_headers);
  // The headers go to the server only, never to a proxy the request tunnels
  // through: the operator's are secrets of the endpoint.
  set(CURLOPT_HEADEROPT, CURLHEADER_SEPARATE);
  set(CURLOPT_WRITEFUNCTION, &HttpRequest::ReceiveBody);
  set(CURLOPT_WRITEDATA, static_cast<void*>(this));
  set(CURLOPT_HEADERFUNCTION, &HttpRequest::ReceiveHeader);
  set(CURLOPT_HEADERDATA, static_cast<void*>(this));
  set(CURLOPT_PRIVATE, static_cast<void*>(this));

  if (method == oru::HttpMethod::kPost) {
    // The shared body is kept until the request has ended, so libcurl can
    // read it in place instead of copying it.
    m_body = body ? std::move(body) : std::make_shared<const std::string>();
    set(CURLOPT_POST, 1L);
    set(CURLOPT_POSTFIELDS, m_body->data());
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_body->size()));
  } else {
    set(CURLOPT_HTTPGET, 1L);
  }

  const std::uint32_t connectionTimeout = options.connectionTimeout ? options.connectionTimeout : settings.connectionTimeout;
  const std::uint32_t requestTimeout = options.requestTimeout ? options.requestTimeout : settings.requestTimeout;
  // Each phase has its own limit: a handshake within the connection's time
  // does not eat into the request's. libcurl's whole-transfer limit is the
  // sum; the request's own is kept by BeforeRequest and Progress.
  if (connectionTimeout) set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectionTimeout));
  if (requestTimeout) {
    m_requestTimeout = requestTimeout;
    set(CURLOPT_TIMEOUT_MS, static_cast<long>(std::uint64_t{connectionTimeout ? connectionTimeout : 300000} +
                                              requestTimeout));
    set(CURLOPT_PREREQFUNCTION, &HttpRequest::BeforeRequest);
    set(CURLOPT_PREREQDATA, static_cast<void*>(this));
    set(CURLOPT_XFERINFOFUNCTION, &HttpRequest::Progress);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(this));
    set(CURLOPT_NOPROGRESS, 0L);
  }
  if (options.stallTimeout) {
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.stallTimeout));
  }
  if (!options.acceptedEncoding.empty()) set(CURLOPT_ACCEPT_ENCODING, options.acceptedEncoding.c_str());

  const std::optional<std::string>& tunnel = options.tunnel ? options.tunnel : settings.tunnel;
  if (tunnel && !tunnel->empty()) {
    m_proxy = ProxyOf(*tunnel);
    set(CURLOPT_PROXY, m_proxy.c_str());
    set(CURLOPT_HTTPPROXYTUNNEL, 1L);
  } else {
    // The proxy is the caller's choice only, never the environment's.
    set(CURLOPT_PROXY, "");
  }

  if (settings.verification) {
    m_certificateCheck = std::make_shared<ServerCertificateCheck>(settings.verification, m_url, host, trustAnchors);
    // The callback decides on the host name as well (its class is in the
    // server certificate's mask), so libcurl must not refuse the name first.
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 0L);
    // A resumed TLS session skips the chain check; every connection asks.
    set(CURLOPT_SSL_SESSIONID_CACHE, 0L);
  } else {
    // The system's trust store with the operator's anchors and the host name
    // decide; the check only watches, to tell an expired certificate or a
    // wrong name apart.
    m_certificateCheck = std::make_shared<ServerCertificateCheck>(nullptr, m_url, host, trustAnchors);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
  }
  if (scheme == "https") {
    // The context of a new connection takes a share of the check: libcurl
    // may keep the connection for later requests after this one is gone.
    set(CURLOPT_SSL_CTX_FUNCTION, &ServerCertificateCheck::InstallInContext);
    set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(m_certificateCheck.get()));
  }

  switch (code) {
    case CURLE_OK:
      return oru::rc::NoError;
    case CURLE_OUT_OF_MEMORY:
      return oru::rc::OutOfMemory;
    case CURLE_NOT_BUILT_IN:
    case CURLE_UNKNOWN_OPTION:
      return oru::rc::NotSupported;
    default:
      return oru::rc::InvalidArgument;
  }
}

bool HttpRequest::CanSend(const oru::HttpHeader& header) noexcept {
  return !header.name.empty() && !HasLineBreak(header.name) && !HasLineBreak(header.value) &&
         header.name.find(':') == std::string::npos;
}

oru::Result HttpRequest::AppendHeader(const oru::HttpHeader& header) {
  if (!CanSend(header)) return oru::rc::InvalidArgument;
  // "Name;" is how libcurl is told to send a header with an empty value.
  std::string line = header.value.empty() ? header.name + ";" : header.name + ": " + header.value;
  curl_slist* appended = curl_slist_append(m_headers, line.c_str());
  Wipe(line.data(), line.size());
  if (!appended) return oru::rc::OutOfMemory;
  m_headers = appended;
  return oru::rc::NoError;
}

oru::Result HttpRequest::Cancel() noexcept {
  m_cancelled.store(true, std::memory_order_release);
  // A client that is gone has completed the request already.
  if (std::shared_ptr<HttpTransferLoop> loop = m_loop.lock()) loop->NotifyCancel();
  return oru::rc::NoError;
}

std::size_t HttpRequest::ReceiveBody(char* data, std::size_t size, std::size_t count, void* self) noexcept {
  auto* request = static_cast<HttpRequest*>(self);
  // A cancelled request takes no more data: returning less than given ends
  // the transfer at once.
  if (request->CancelRequested() || !request->m_callback) return 0;
  const std::size_t bytes = size * count;
  // The chunk that crosses the limit still goes up whole: the caller cuts
  // what it keeps and says so. After it, the transfer ends.
  if (request->m_bodyBytes >= kMaxAnswerBody) {
    request->m_bodyCut = true;
    return 0;
  }
  request->m_bodyBytes += bytes;
  request->m_callback->ResponseData({reinterpret_cast<const std::uint8_t*>(data), bytes});
  return bytes;
}

std::size_t HttpRequest::ReceiveHeader(char* data, std::size_t size, std::size_t count, void* self) noexcept {
  auto* request = static_cast<HttpRequest*>(self);
  const std::size_t bytes = size * count;
  // The empty line that ends a header; an interim answer (1xx) has one too.
  if (std::string_view(data, bytes) == "\r\n" || std::string_view(data, bytes) == "\n") {
    long status = 0;
    if (curl_easy_getinfo(request->m_transfer, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status >= 200) {
      request->m_finalAnswer = true;
    }
  }
  return bytes;
}

int HttpRequest::BeforeRequest(void* self, char*, char*, int, int) noexcept {
  auto* request = static_cast<HttpRequest*>(self);
  request->m_requestStart = std::chrono::steady_clock::now();
  return CURL_PREREQFUNC_OK;
}

int HttpRequest::Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept {
  auto* request = static_cast<HttpRequest*>(self);
  if (request->m_requestStart == std::chrono::steady_clock::time_point{}) return 0;
  if (std::chrono::steady_clock::now() - request->m_requestStart <
      std::chrono::milliseconds(request->m_requestTimeout)) {
    return 0;
  }
  request->m_requestTimedOut = true;
  return 1;
}

void HttpRequest::Complete(CURLcode code) noexcept {
  if (CancelRequested()) return Complete(oru::rc::OperationCancelled);
  long status = 0;
  if (curl_easy_getinfo(m_transfer, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status < 0 || status > 0xFFFF) {
    status = 0;
  }
  // Once a final answer's header has come the server has decided: a body
  // cut short, damaged, endless or late changes nothing.
  if (code != CURLE_OK && m_finalAnswer) {
    return Finish(oru::http_result::kAnswerBodyIncomplete, static_cast<std::uint16_t>(status));
  }
  if (code == CURLE_ABORTED_BY_CALLBACK && m_requestTimedOut) code = CURLE_OPERATION_TIMEDOUT;
  Finish(ResultOf(code), static_cast<std::uint16_t>(status));
}

void HttpRequest::Complete(oru::Result result) noexcept { Finish(result, 0); }

void HttpRequest::Finish(oru::Result result, std::uint16_t status) noexcept {
  if (m_completed) return;
  m_completed = true;
  // The reference is given up only after RequestCompleted has returned.
  oru::RefPtr<oru::IHttpRequestCallback> callback = std::move(m_callback);
  if (callback) callback->RequestCompleted(result, status);
}

oru::Result HttpRequest::ResultOf(CURLcode code) const noexcept {
  // A refusal by the callback ends the handshake with whatever error
  // OpenSSL and libcurl make of it; the refusal is what the caller needs.
  if (code != CURLE_OK && m_certificateCheck && m_certificateCheck->Refused()) {
    return oru::http_result::kServerCertificateRejected;
  }
  switch (code) {
    case CURLE_OK:
      return oru::rc::NoError;
    case CURLE_OPERATION_TIMEDOUT:
      return oru::rc::OperationTimeout;
    case CURLE_PEER_FAILED_VERIFICATION: {
      long verifyResult = X509_V_OK;
      curl_easy_getinfo(m_transfer, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
      if (verifyResult == X509_V_ERR_CERT_HAS_EXPIRED || verifyResult == X509_V_ERR_CERT_NOT_YET_VALID) {
        return oru::http_result::kServerCertificateExpired;
      }
      if (m_certificateCheck && m_certificateCheck->TrustedButNameMismatch()) {
        return oru::http_result::kServerCertificateNameMismatch;
      }
      return oru::http_result::kServerCertificateRejected;
    }
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
      return oru::http_result::kTlsFailure;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
    case CURLE_PROXY:
    case CURLE_BAD_CONTENT_ENCODING:
      // The connection could not be made, broke, or what came over it was
      // no readable answer.
      return oru::rc::NetworkError;
    case CURLE_OUT_OF_MEMORY:
      return oru::rc::OutOfMemory;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return oru::rc::InvalidArgument;
    default:
      return oru::rc::UnspecifiedError;
  }
}

}  // namespace reference_host
