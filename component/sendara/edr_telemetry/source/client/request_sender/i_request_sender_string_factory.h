#pragma once

#include <memory>

#include "component/sendara/base/detail/request_sender/i_request_sender_string.h"

namespace sendara::edr_telemetry {

// Makes the HTTP request senders of the client's HTTP endpoints, each with
// the connection settings that are current when it is made.
class IRequestSenderStringFactory {
 public:
  virtual ~IRequestSenderStringFactory() = default;

  virtual std::shared_ptr<base::IRequestSenderString> CreateRequestSender() = 0;
};

}  // namespace sendara::edr_telemetry
