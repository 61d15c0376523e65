#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/signals2/signal.hpp>

#include "component/oru/exception_to_result.h"
#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/reader_mutex_lock.h"
#include "component/platform/shared_mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/platform/writer_mutex_lock.h"
#include "component/sendara/base/detail/common/function_name.h"
#include "component/sendara/base/detail/common/i_subscription.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::base {

namespace detail {
// One delivery running on this thread, in the frame that runs it; the
// innermost is the thread's head, each names the one around it. A chain of
// plain pointers: a thread-local with a destructor would keep the module
// mapped for as long as every thread that ever delivered lives.
struct Delivering {
  const void* state;
  const Delivering* outer;
};
inline thread_local const Delivering* t_delivering = nullptr;
}  // namespace detail

template <class Signature>
class ThreadSafeSubscription;

// A subscription to a Boost.Signals2 signal whose callback is never running,
// and never called again, once Unsubscribe has returned.
//
// Signals2 does not wait for an emission that already passed the connection
// check when a slot is disconnected. So the lock, the flag and the callback
// live in a state that the slot holds by shared pointer: a late emission
// finds the flag cleared (or holds the lock shared, and Unsubscribe waits for
// it), and never touches a destroyed subscription.
//
// Callbacks run on the emitting thread, concurrently with each other. An
// exception from a callback is traced and does not reach the emitter.
//
// A callback that drops or unsubscribes its own subscription cannot wait for
// itself: then Unsubscribe only stops every later delivery, and the callback
// object lives until the last emission that holds it has finished. A callback
// that emits its own signal again is delivered to without locking twice.
template <class... Args>
class ThreadSafeSubscription<void(Args...)> final : public ISubscription {
 public:
  using Signal = boost::signals2::signal<void(Args...)>;
  using Callback = std::function<void(Args...)>;

  // `clientName` names the subscriber in traces, by convention the full name
  // of the subscriber's constructor.
  ThreadSafeSubscription(oru::RefPtr<oru::ITracer> tracer, Signal& signal, std::string clientName,
                         Callback callback)
      : m_state(std::make_shared<State>(std::move(tracer), std::move(clientName),
                                        std::move(callback))) {
    SENDARA_TRACE(m_state->tracer, TraceLevel::kInfo, "client: " << m_state->clientName);
    m_connection = signal.connect(
        [state = m_state](Args... args) { Deliver(*state, std::forward<Args>(args)...); });
  }

  ~ThreadSafeSubscription() override {
    SENDARA_TRACE(m_state->tracer, TraceLevel::kInfo, "client: " << m_state->clientName);
    Unsubscribe();
  }

  void Unsubscribe() override {
    if (m_connection.connected()) m_connection.disconnect();
    if (IsDeliveringOnThisThread(*m_state)) {
      // Called from the subscription's own callback: the exclusive lock would
      // wait for this very thread.
      if (m_state->subscribed.exchange(false)) {
        SENDARA_TRACE(m_state->tracer, TraceLevel::kInfo, "unsubscribe " << m_state->clientName);
      }
      return;
    }
    Callback released;
    {
      // Waits for every callback that is running to return.
      platform::WriterMutexLock lock(&m_state->lock);
      if (!m_state->subscribed.exchange(false)) return;
      SENDARA_TRACE(m_state->tracer, TraceLevel::kInfo, "unsubscribe " << m_state->clientName);
      // Moved out and cleared apart: the clearing is a write the analysis
      // checks for the exclusive lock.
      released = std::move(m_state->callback);
      m_state->callback = nullptr;
    }
    // What the callback holds is released outside the lock: its destructors
    // may be long, or take locks of their own.
  }

 private:
  struct State {
    State(oru::RefPtr<oru::ITracer> t, std::string name, Callback c)
        : tracer(std::move(t)), clientName(std::move(name)), callback(std::move(c)) {}

    const oru::RefPtr<oru::ITracer> tracer;
    // Shared by the callbacks that run, exclusive while Unsubscribe takes the
    // callback away: emissions on several threads do not wait for each other.
    platform::SharedMutex lock;
    const std::string clientName;
    Callback callback GUARDED_BY(lock);
    std::atomic<bool> subscribed{true};
  };

  static bool IsDeliveringOnThisThread(const State& state) {
    for (const detail::Delivering* frame = detail::t_delivering; frame; frame = frame->outer) {
      if (frame->state == &state) return true;
    }
    return false;
  }

  template <class... Forwarded>
  static void Deliver(State& state, Forwarded&&... args) {
    if (IsDeliveringOnThisThread(state)) {
      // A nested emission: an outer frame of this thread holds the lock
      // shared already, and taking it again could block behind a waiting
      // Unsubscribe.
      state.lock.AssertReaderHeld();
      DeliverLocked(state, std::forward<Forwarded>(args)...);
      return;
    }
    platform::ReaderMutexLock lock(&state.lock);
    DeliverLocked(state, std::forward<Forwarded>(args)...);
  }

  template <class... Forwarded>
  static void DeliverLocked(State& state, Forwarded&&... args) REQUIRES_SHARED(state.lock) {
    if (!state.subscribed) return;
    const detail::Delivering frame{&state, detail::t_delivering};
    detail::t_delivering = &frame;
    try {
      state.callback(std::forward<Forwarded>(args)...);
    } catch (...) {
      TraceCallbackFailure(state, SENDARA_FUNCTION_NAME);
    }
    detail::t_delivering = frame.outer;
  }

  // Called inside the handler of the callback's exception.
  static void TraceCallbackFailure(const State& state, std::string_view function) noexcept {
    try {
      std::string prefix = "[";
      prefix += function;
      prefix += "] callback of ";
      prefix += state.clientName;
      prefix += " failed:";
      oru::ExceptionToResult(state.tracer.Get(), prefix);
    } catch (...) {
      // Nothing is left to report with.
    }
  }

  std::shared_ptr<State> m_state;
  boost::signals2::connection m_connection;
};

}  // namespace sendara::base
