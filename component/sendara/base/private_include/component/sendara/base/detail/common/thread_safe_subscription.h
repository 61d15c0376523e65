#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <utility>

#include <boost/signals2/signal.hpp>

#include "component/oru/exception_to_result.h"
#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/common/function_name.h"
#include "component/sendara/base/detail/common/i_subscription.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::base {

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
    Callback released;
    {
      // Waits for every callback that is running to return.
      std::unique_lock lock(m_state->lock);
      if (!m_state->subscribed) return;
      SENDARA_TRACE(m_state->tracer, TraceLevel::kInfo, "unsubscribe " << m_state->clientName);
      m_state->subscribed = false;
      released = std::exchange(m_state->callback, nullptr);
    }
    // What the callback holds is released outside the lock: its destructors
    // may be long, or take locks of their own.
  }

 private:
  struct State {
    State(oru::RefPtr<oru::ITracer> t, std::string name, Callback c)
        : tracer(std::move(t)), clientName(std::move(name)), callback(std::move(c)) {}

    const oru::RefPtr<oru::ITracer> tracer;
    std::shared_mutex lock;
    const std::string clientName;
    Callback callback;
    bool subscribed = true;
  };

  template <class... Forwarded>
  static void Deliver(State& state, Forwarded&&... args) {
    std::shared_lock lock(state.lock);
    if (!state.subscribed) return;
    try {
      state.callback(std::forward<Forwarded>(args)...);
    } catch (...) {
      TraceCallbackFailure(state, SENDARA_FUNCTION_NAME);
    }
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
