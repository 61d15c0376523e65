#include "host/http/http_endpoint_headers.h"

#include <string.h>  // explicit_bzero

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>

#include "host/http/http_request.h"

namespace reference_host {
namespace {

struct UrlDeleter {
  void operator()(CURLU* url) const noexcept { curl_url_cleanup(url); }
};

std::optional<std::string> PartOf(CURLU* url, CURLUPart part, unsigned int flags = 0) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, flags) != CURLUE_OK || !text) return std::nullopt;
  std::string copy(text);
  curl_free(text);
  return copy;
}

std::string Lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return text;
}

void WipeValues(std::vector<oru::HttpHeader>& headers) noexcept {
  for (oru::HttpHeader& header : headers) explicit_bzero(header.value.data(), header.value.size());
}

}  // namespace

HttpEndpointHeaders::HttpEndpointHeaders(std::vector<HttpClientConfiguration::EndpointHeaders> endpoints) {
  // The values not taken over, all of them when the configuration is
  // refused, are overwritten before they go.
  struct WipeLeft {
    std::vector<HttpClientConfiguration::EndpointHeaders>& endpoints;
    ~WipeLeft() {
      for (HttpClientConfiguration::EndpointHeaders& endpoint : endpoints) WipeValues(endpoint.headers);
    }
  } wipeLeft{endpoints};

  std::vector<std::string> keys;
  keys.reserve(endpoints.size());
  for (const HttpClientConfiguration::EndpointHeaders& endpoint : endpoints) {
    const std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url) throw std::bad_alloc();
    std::optional<std::string> key;
    if (curl_url_set(url.get(), CURLUPART_URL, endpoint.url.c_str(), 0) == CURLUE_OK) key = EndpointOf(url.get());
    if (!key) throw std::invalid_argument("the endpoint " + endpoint.url + " is no http or https URL");
    for (const oru::HttpHeader& header : endpoint.headers) {
      if (!HttpRequest::CanSend(header)) {
        throw std::invalid_argument("the header \"" + header.name + "\" of the endpoint " + endpoint.url +
                                    " cannot be sent");
      }
    }
    keys.push_back(std::move(*key));
  }
  // The header lists move whole, their values where they are. Each endpoint
  // stays as given, also one given twice: merging lists would move values
  // about and leave copies behind.
  m_endpoints.reserve(endpoints.size());
  for (std::size_t i = 0; i < endpoints.size(); ++i) {
    m_endpoints.emplace_back(std::move(keys[i]), std::move(endpoints[i].headers));
  }
}

HttpEndpointHeaders::~HttpEndpointHeaders() {
  for (auto& [endpoint, headers] : m_endpoints) WipeValues(headers);
}

std::vector<std::span<const oru::HttpHeader>> HttpEndpointHeaders::For(CURLU* url) const {
  std::vector<std::span<const oru::HttpHeader>> found;
  if (m_endpoints.empty()) return found;
  const std::optional<std::string> key = EndpointOf(url);
  if (!key) return found;
  for (const auto& [endpoint, headers] : m_endpoints) {
    if (endpoint == *key) found.emplace_back(headers);
  }
  return found;
}

std::optional<std::string> HttpEndpointHeaders::EndpointOf(CURLU* url) {
  const std::optional<std::string> scheme = PartOf(url, CURLUPART_SCHEME);
  if (!scheme || (Lowercase(*scheme) != "http" && Lowercase(*scheme) != "https")) return std::nullopt;
  const std::optional<std::string> host = PartOf(url, CURLUPART_HOST);
  const std::optional<std::string> port = PartOf(url, CURLUPART_PORT, CURLU_DEFAULT_PORT);
  if (!host || host->empty() || !port) return std::nullopt;
  // libcurl gives "/" for a URL without a path; a URL without a query has none
  // to give.
  const std::string path = PartOf(url, CURLUPART_PATH).value_or("/");
  const std::optional<std::string> query = PartOf(url, CURLUPART_QUERY);
  // The host is in brackets when it is an IPv6 address, so the ":" before
  // the port cannot be mistaken; a path starts with "/".
  return Lowercase(*scheme) + "://" + Lowercase(*host) + ":" + *port + path + (query ? "?" + *query : "");
}

}  // namespace reference_host
