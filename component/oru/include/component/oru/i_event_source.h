#pragma once

#include "component/oru/i_object.h"

namespace oru {

// Where listeners of one kind subscribe to an object's notifications.
// Subscribe adds a reference to the listener; Unsubscribe releases it at
// once, or as soon as a notification running in it returns; UnsubscribeAndWait
// also waits for that notification (but not when called from inside it).
// A listener that is not subscribed answers NotFound.
template <class Listener, InterfaceId Iid>
class IEventSource : public IObject {
 public:
  static constexpr InterfaceId kIid = Iid;

  virtual Result Subscribe(Listener* listener) noexcept = 0;
  virtual Result Unsubscribe(Listener* listener) noexcept = 0;
  virtual Result UnsubscribeAndWait(Listener* listener) noexcept = 0;

 protected:
  ~IEventSource() = default;
};

}  // namespace oru
