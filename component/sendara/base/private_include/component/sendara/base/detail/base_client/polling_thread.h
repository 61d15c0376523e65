#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/event.h"
#include "component/platform/thread.h"
#include "component/sendara/base/detail/base_client/i_polling_client.h"
#include "component/sendara/base/detail/common/stop_source.h"
#include "component/sendara/base/detail/common/stop_token.h"

namespace sendara::base {

// One worker thread that calls one client's Process pass after pass, sleeping
// between passes on the client's wake-up event for the client's sleep time.
// An exception from Process goes to the exception handler: true keeps
// polling, false ends the worker. Destruction requests the stop (which wakes
// the sleep), lets the current pass finish and joins the worker.
class PollingThread final {
 public:
  using ExceptionHandler = std::function<bool(std::exception_ptr)>;

  // Raises contract_exception for a null client or wake-up event, and
  // tools_exception "can't start polling" when no thread can be started.
  // `onEnded`, when given, runs on the worker as its last step, however it
  // ends: who waits on the worker's work learns that none will come.
  PollingThread(oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<IPollingClient> client,
                ExceptionHandler exceptionHandler, std::function<void()> onEnded = {});
  PollingThread(const PollingThread&) = delete;
  PollingThread& operator=(const PollingThread&) = delete;
  // Destroyed from its own worker (a client or handler that drops its last
  // owner), it cannot wait for itself: the worker is detached and leaves at
  // its next stop check, still holding everything it uses.
  ~PollingThread();

 private:
  // What the worker uses. Shared with the worker, so that it outlives a
  // PollingThread destroyed from the worker itself.
  struct State {
    oru::RefPtr<oru::ITracer> tracer;
    std::shared_ptr<IPollingClient> client;
    ExceptionHandler exceptionHandler;
    std::function<void()> onEnded;
    StopSource stopSource;
    std::shared_ptr<platform::Event> wakeupEvent;
  };

  static void Run(const std::shared_ptr<State>& state) noexcept;
  static void Polling(State& state, const StopToken& stopToken);

  std::shared_ptr<State> m_state;
  std::unique_ptr<platform::Thread> m_thread;
};

}  // namespace sendara::base
