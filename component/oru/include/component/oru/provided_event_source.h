#pragma once

#include "component/oru/event_source.h"
#include "component/oru/i_event_source.h"

namespace oru {

template <class Interface>
class ProvidedEventSource;

// IEventSource<Listener, Iid> implemented over an EventSource, for an object
// to list among its interfaces (BasicObject) instead of forwarding the three
// methods itself; the object notifies through Listeners().
template <class Listener, InterfaceId Iid>
class ProvidedEventSource<IEventSource<Listener, Iid>> : public IEventSource<Listener, Iid> {
 public:
  Result Subscribe(Listener* listener) noexcept override { return m_listeners.Subscribe(listener); }
  Result Unsubscribe(Listener* listener) noexcept override { return m_listeners.Unsubscribe(listener); }
  Result UnsubscribeAndWait(Listener* listener) noexcept override { return m_listeners.UnsubscribeAndWait(listener); }

 protected:
  ProvidedEventSource() = default;
  ~ProvidedEventSource() = default;
  EventSource<Listener>& Listeners() noexcept { return m_listeners; }

 private:
  EventSource<Listener> m_listeners;
};

}  // namespace oru
