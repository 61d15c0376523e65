#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "component/oru/ref_ptr.h"
#include "component/oru/result_code.h"
#include "component/platform/condition_variable.h"
#include "component/platform/mutex.h"
#include "component/platform/mutex_lock.h"
#include "component/platform/thread_annotations.h"

namespace oru {

// The listeners of one IEventSource and their notification. An object that
// exposes IEventSource<Listener, Iid> forwards its three methods to a member
// of this class and calls Notify for each event.
//
// Listeners are called outside the source's lock, so a listener may call any
// method of the source (or of its object) back. Several threads may notify at
// once. Each entry counts the notifications running in it: an unsubscribed
// listener stays referenced until the last of them has returned, and the
// entry is reused only after that.
template <class Listener>
class EventSource {
 public:
  EventSource() = default;
  EventSource(const EventSource&) = delete;
  EventSource& operator=(const EventSource&) = delete;

  // Adds a reference to `listener`. The same listener subscribed twice is
  // notified twice and must be unsubscribed twice.
  Result Subscribe(Listener* listener) noexcept EXCLUDES(m_mutex) {
    if (!listener) return rc::InvalidArgument;
    try {
      platform::MutexLock lock(&m_mutex);
      const auto free =
          std::find_if(m_entries.begin(), m_entries.end(), [](const Entry& entry) { return entry.IsFree(); });
      Entry& entry = free != m_entries.end() ? *free : m_entries.emplace_back();
      entry.listener = RefPtr<Listener>(listener);
      entry.subscribed = true;
      // Tells a waiter of the entry's previous listener that it has gone.
      ++entry.generation;
      return rc::NoError;
    } catch (const std::bad_alloc&) {
      return rc::OutOfMemory;
    }
  }

  // Releases the listener at once, or, while a notification runs in it, as
  // soon as the last running one returns.
  Result Unsubscribe(Listener* listener) noexcept EXCLUDES(m_mutex) { return Remove(listener, false); }

  // As Unsubscribe, then waits until the listener's running notifications
  // have returned and its reference is released. Called from inside one of
  // them on the same thread, it cannot wait for itself and returns at once.
  Result UnsubscribeAndWait(Listener* listener) noexcept EXCLUDES(m_mutex) { return Remove(listener, true); }

  // Calls `callable(Listener&)` for each subscribed listener, one after
  // another, on this thread. An exception from `callable` is dropped so that
  // the remaining listeners are still called: the callable reports failures
  // through its own captures. Returns how many listeners were called.
  template <class Callable>
  std::size_t Notify(Callable&& callable) noexcept EXCLUDES(m_mutex) {
    std::size_t called = 0;
    std::size_t end = 0;
    {
      platform::MutexLock lock(&m_mutex);
      // Entries added while this runs wait for the next notification.
      end = m_entries.size();
    }
    for (std::size_t index = 0; index < end; ++index) {
      Listener* listener = Enter(index);
      if (!listener) continue;
      ++called;
      try {
        callable(*listener);
      } catch (...) {
      }
      Leave(index);
    }
    return called;
  }

 private:
  struct Entry {
    // Null once released.
    RefPtr<Listener> listener;
    bool subscribed = false;
    // Notifications running in the entry, and the threads that run them.
    std::uint32_t useCount = 0;
    std::vector<std::thread::id> notifyingThreads;
    std::uint64_t generation = 0;

    bool IsFree() const noexcept { return !listener && useCount == 0; }
  };

  // The listener of entry `index` with its use count raised, or null when the
  // entry has no subscribed listener.
  Listener* Enter(std::size_t index) noexcept EXCLUDES(m_mutex) {
    platform::MutexLock lock(&m_mutex);
    Entry& entry = m_entries[index];
    if (!entry.subscribed) return nullptr;
    try {
      entry.notifyingThreads.push_back(std::this_thread::get_id());
    } catch (const std::bad_alloc&) {
      // Untracked, a call back into UnsubscribeAndWait would wait for itself.
      return nullptr;
    }
    ++entry.useCount;
    return entry.listener.Get();
  }

  void Leave(std::size_t index) noexcept EXCLUDES(m_mutex) {
    RefPtr<Listener> released;
    {
      platform::MutexLock lock(&m_mutex);
      Entry& entry = m_entries[index];
      auto& threads = entry.notifyingThreads;
      threads.erase(std::find(threads.begin(), threads.end(), std::this_thread::get_id()));
      if (entry.subscribed || entry.useCount > 1) {
        --entry.useCount;
      } else {
        // The last call of an unsubscribed listener: the entry stays in use
        // until the reference is gone, so that a waiter returns only then.
        released = std::move(entry.listener);
      }
    }
    if (released) {
      // Outside the lock: the last release may run the listener's destructor,
      // which may call the source.
      released.Reset();
      platform::MutexLock lock(&m_mutex);
      --m_entries[index].useCount;
    }
    m_returned.NotifyAll();
  }

  Result Remove(Listener* listener, bool wait) noexcept EXCLUDES(m_mutex) {
    if (!listener) return rc::InvalidArgument;
    RefPtr<Listener> released;
    {
      platform::MutexLock lock(&m_mutex);
      const auto found = std::find_if(m_entries.begin(), m_entries.end(), [listener](const Entry& entry) {
        return entry.subscribed && entry.listener.Get() == listener;
      });
      if (found == m_entries.end()) return rc::NotFound;
      found->subscribed = false;
      if (found->useCount == 0) {
        released = std::move(found->listener);
      } else if (wait) {
        const auto& threads = found->notifyingThreads;
        const bool insideOwnNotification =
            std::find(threads.begin(), threads.end(), std::this_thread::get_id()) != threads.end();
        if (!insideOwnNotification) {
          // By index and generation: the entries may move as the list grows,
          // and a freed entry may take another listener before this wakes.
          const std::size_t index = static_cast<std::size_t>(found - m_entries.begin());
          const std::uint64_t generation = found->generation;
          for (;;) {
            const Entry& entry = m_entries[index];
            if (entry.generation != generation || entry.useCount == 0) break;
            m_returned.Wait(&m_mutex);
          }
        }
      }
    }
    // Released outside the lock, as in Leave.
    return rc::NoError;
  }

  platform::Mutex m_mutex;
  platform::ConditionVariable m_returned;
  std::vector<Entry> m_entries GUARDED_BY(m_mutex);
};

}  // namespace oru
