#pragma once

#include <optional>
#include <string>

#include "component/sendara/base/detail/request_sender/secure_string.h"

namespace sendara::base {

// A response and the local address and port the request went out from,
// when the client reports it.
struct ResponseWithEndpoint {
  SecureString response;
  std::optional<std::string> localEndpoint;
};

}  // namespace sendara::base
