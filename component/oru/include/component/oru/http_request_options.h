#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "component/oru/http_header.h"

namespace oru {

// What one request is made with.
struct HttpRequestOptions {
  std::uint32_t connectionTimeout = 0;
  std::uint32_t requestTimeout = 0;
  std::vector<HttpHeader> headers;
  // Content encodings the response may come in ("gzip"); the client
  // decodes them before handing the body over.
  std::string acceptedEncoding;
  std::optional<std::string> tunnel;
  // Seconds a transfer may stall (no byte either way) before it fails with
  // OperationTimeout.
  std::uint16_t stallTimeout = 30;
};

}  // namespace oru
