#pragma once

#include <string>
#include <vector>

#include "component/oru/http_header.h"
#include "host/http/http_trust_anchors.h"

namespace reference_host {

// What the operator gives the host's HTTP client service, for every client
// it makes. Empty: the system's trust store alone, and no headers of the
// operator's.
struct HttpClientConfiguration {
  // Headers the operator adds to every request to one endpoint.
  struct EndpointHeaders {
    // An http or https URL: a request goes to the endpoint when its URI has
    // the same scheme, host, port (a default one spelled out or not), path
    // and query.
    std::string url;
    // Added after the request's own headers. The values are secrets (tokens,
    // keys): the client never writes them anywhere but to the endpoint.
    std::vector<oru::HttpHeader> headers;
  };

  // Trusted for HTTPS on top of the system's trust store, by every client:
  // a chain to one of them verifies with no error. See HttpTrustAnchors::Load.
  HttpTrustAnchors trustAnchors;
  std::vector<EndpointHeaders> endpoints;
};

}  // namespace reference_host
