#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/provided_event_source.h"
#include "component/oru/i_response_server_event_handler.h"

namespace reference_host {

// The host's response servers, one per integration id, as far as the
// component hears of them: started or not. A subscriber hears the state of
// every known integration at once, from inside Subscribe, then each change.
class ResponseServer final
    : public oru::BasicObject<ResponseServer, oru::UncountedObject,
                              oru::ProvidedEventSource<oru::IResponseServerEventSubscription>> {
 public:
  void SetStarted(std::uint16_t integrationId, bool started) {
    {
      std::lock_guard lock(m_mutex);
      m_states[integrationId] = started;
    }
    Listeners().Notify([&](oru::IResponseServerEventHandler& handler) { handler.OnConnectionEvent(integrationId, started); });
  }

  // Subscribes, then reports the current states to the new subscriber.
  oru::Result Subscribe(oru::IResponseServerEventHandler* handler) noexcept override {
    const oru::Result subscribed = ProvidedEventSource::Subscribe(handler);
    if (oru::Failed(subscribed)) return subscribed;
    std::vector<std::pair<std::uint16_t, bool>> states;
    try {
      std::lock_guard lock(m_mutex);
      states.assign(m_states.begin(), m_states.end());
    } catch (...) {
      return oru::rc::OutOfMemory;
    }
    for (const auto& [integrationId, started] : states) handler->OnConnectionEvent(integrationId, started);
    return oru::rc::NoError;
  }

 private:
  std::mutex m_mutex;
  std::map<std::uint16_t, bool> m_states;
};

}  // namespace reference_host
