#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/event_source.h"
#include "component/oru/i_response_server_event_handler.h"

namespace reference_host {

// The host's response servers, one per integration id, as far as the
// component hears of them: started or not. A subscriber hears the state of
// every known integration at once, from inside Subscribe, then each change.
class ResponseServer final
    : public oru::BasicObject<ResponseServer, oru::UncountedObject, oru::IResponseServerEventSubscription> {
 public:
  void SetStarted(std::uint16_t integrationId, bool started) {
    {
      std::lock_guard lock(m_mutex);
      m_states[integrationId] = started;
    }
    m_source.Notify([&](oru::IResponseServerEventHandler& handler) { handler.OnConnectionEvent(integrationId, started); });
  }

  oru::Result Subscribe(oru::IResponseServerEventHandler* handler) noexcept override {
    const oru::Result subscribed = m_source.Subscribe(handler);
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
  oru::Result Unsubscribe(oru::IResponseServerEventHandler* handler) noexcept override {
    return m_source.Unsubscribe(handler);
  }
  oru::Result UnsubscribeAndWait(oru::IResponseServerEventHandler* handler) noexcept override {
    return m_source.UnsubscribeAndWait(handler);
  }

 private:
  std::mutex m_mutex;
  std::map<std::uint16_t, bool> m_states;
  oru::EventSource<oru::IResponseServerEventHandler> m_source;
};

}  // namespace reference_host
