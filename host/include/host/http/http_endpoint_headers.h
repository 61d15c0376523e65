#pragma once

#include <curl/curl.h>

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "component/oru/http_header.h"
#include "host/http/http_client_configuration.h"

namespace reference_host {

// The operator's headers by endpoint, looked up for each request by the
// endpoint its URI names: scheme, host (in any case), port (the scheme's
// default when the URI names none), path and query, as libcurl's URL parser
// reads them, so that "http://[::1]:8080/x" and "HTTP://[::1]:8080/x" are one
// endpoint and "http://[::1]:8080/y" another. Immutable once made: the
// clients of a factory share one.
class HttpEndpointHeaders {
 public:
  HttpEndpointHeaders() = default;
  // Takes the headers over, without copies of their values. Throws
  // std::invalid_argument naming the URL when it is no http or https URL, or
  // when a header could not be sent (see HttpRequest::CanSend; the value is
  // never named). An endpoint given twice gets the headers of both.
  explicit HttpEndpointHeaders(std::vector<HttpClientConfiguration::EndpointHeaders> endpoints);
  // Overwrites the values before they are freed.
  ~HttpEndpointHeaders();

  HttpEndpointHeaders(const HttpEndpointHeaders&) = delete;
  HttpEndpointHeaders& operator=(const HttpEndpointHeaders&) = delete;

  // The headers of the endpoint `url` names, as given (a list for each time
  // the endpoint was given); none for an endpoint without.
  std::vector<std::span<const oru::HttpHeader>> For(CURLU* url) const;

  // What tells endpoints apart, of a parsed http or https URL; nothing for
  // another URL.
  static std::optional<std::string> EndpointOf(CURLU* url);

 private:
  std::vector<std::pair<std::string, std::vector<oru::HttpHeader>>> m_endpoints;
};

}  // namespace reference_host
