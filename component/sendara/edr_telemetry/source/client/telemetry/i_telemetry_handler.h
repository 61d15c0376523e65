#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "component/sendara/base/detail/common/i_subscription.h"

namespace sendara::edr_telemetry::telemetry {

// Takes the events the client lets through into the queue.
class ITelemetryHandler {
 public:
  virtual ~ITelemetryHandler() = default;
  // `callback` runs on the event thread each time a package of events has
  // been queued, until the subscription is dropped.
  virtual std::shared_ptr<base::ISubscription> Subscribe(std::string clientName,
                                                         std::function<void()> callback) = 0;
  // One event as UTF-16 JSON text. Raises invalid_json_exception when the
  // event must be rewritten and is not a JSON object.
  virtual void SendTelemetry(std::u16string_view text) = 0;
  // The same for an event already converted, as base::ToUtf8 converts it.
  virtual void SendTelemetryUtf8(std::string_view text) = 0;
};

}  // namespace sendara::edr_telemetry::telemetry
