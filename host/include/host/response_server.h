#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/provided_event_source.h"
#include "component/oru/i_response_server_event_handler.h"
#include "component/platform/mutex.h"
#include "component/platform/mutex_lock.h"
#include "component/platform/thread_annotations.h"

namespace reference_host {

// The host's response servers, one per integration id, as far as the
// component hears of them: started or not. A subscriber hears the state of
// every known integration at once, from inside Subscribe, then each change.
class ResponseServer final
    : public oru::BasicObject<ResponseServer, oru::UncountedObject,
                              oru::ProvidedEventSource<oru::IResponseServerEventSubscription>> {
 public:
  // The handlers run outside the lock: they may call back.
  void SetStarted(std::uint16_t integrationId, bool started) EXCLUDES(m_mutex) {
    {
      platform::MutexLock lock(&m_mutex);
      m_states[integrationId] = started;
    }
    Listeners().Notify([&](oru::IResponseServerEventHandler& handler) { handler.OnConnectionEvent(integrationId, started); });
  }

  // Subscribes, then reports the current states to the new subscriber.
  oru::Result Subscribe(oru::IResponseServerEventHandler* handler) noexcept override EXCLUDES(m_mutex) {
    const oru::Result subscribed = ProvidedEventSource::Subscribe(handler);
    if (oru::Failed(subscribed)) return subscribed;
    std::vector<std::pair<std::uint16_t, bool>> states;
    try {
      platform::MutexLock lock(&m_mutex);
      states.assign(m_states.begin(), m_states.end());
    } catch (...) {
      return oru::rc::OutOfMemory;
    }
    for (const auto& [integrationId, started] : states) handler->OnConnectionEvent(integrationId, started);
    return oru::rc::NoError;
  }

 private:
  platform::Mutex m_mutex;
  std::map<std::uint16_t, bool> m_states GUARDED_BY(m_mutex);
};

}  // namespace reference_host
