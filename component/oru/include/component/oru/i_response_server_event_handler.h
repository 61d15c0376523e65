#pragma once

#include <cstdint>

#include "component/oru/i_event_source.h"
#include "component/oru/i_object.h"
#include "component/oru/service_ids.h"

namespace oru {

// Told when the host's response server of an integration starts or stops.
class IResponseServerEventHandler : public IObject {
 public:
  static constexpr InterfaceId kIid = 0x3E9A4D06;

  virtual Result OnConnectionEvent(std::uint16_t integrationId, bool started) noexcept = 0;

 protected:
  ~IResponseServerEventHandler() = default;
};

// Host service. A new subscriber hears the current state of every
// integration the host knows at once, from inside Subscribe.
using IResponseServerEventSubscription =
    IEventSource<IResponseServerEventHandler, service_ids::kResponseServerEventSubscription>;

}  // namespace oru
