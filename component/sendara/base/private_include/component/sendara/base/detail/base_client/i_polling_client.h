#pragma once

#include <cstdint>
#include <memory>

#include "component/platform/event.h"
#include "component/sendara/base/detail/common/stop_token.h"

namespace sendara::base {

// A client that a PollingThread calls pass after pass.
class IPollingClient {
 public:
  virtual ~IPollingClient() = default;
  // One processing pass; may throw.
  virtual void Process(StopToken stopToken) = 0;
  // Milliseconds to sleep before the next pass; read anew after every pass.
  virtual std::uint32_t GetSleepTime() = 0;
  // An auto-reset event, initially not signalled; signalling it ends the
  // current sleep early. Asked for once, when the PollingThread is made.
  virtual std::shared_ptr<platform::Event> GetWakeupEvent() = 0;
};

}  // namespace sendara::base
