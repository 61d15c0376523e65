#pragma once

#include <string_view>

#include "component/sendara/edr_telemetry/source/client/request_sender/i_connection_event_handler.h"

namespace sendara::edr_telemetry {

// For a client created without anyone to hear its connection events.
class DroppingConnectionEventHandler final : public IConnectionEventHandler {
 public:
  void Connected(std::string_view, std::string_view) override {}
  void ConnectionError(const ConnectionErrorInfo&) override {}
};

}  // namespace sendara::edr_telemetry
