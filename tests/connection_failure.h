#pragma once

#include <optional>

#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_info.h"

// The connection error that `send` raises, or nothing when it succeeds.
template <class F>
std::optional<sendara::edr_telemetry::ConnectionErrorInfo> ConnectionFailureOf(F&& send) {
  try {
    send();
  } catch (const sendara::base::connection_exception& e) {
    return sendara::edr_telemetry::ConnectionErrorInfo::From(e);
  }
  return std::nullopt;
}
