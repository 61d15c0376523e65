#include "component/sendara/base/detail/base_client/polling_thread.h"

#include <string>
#include <system_error>

#include "component/oru/exception_to_result.h"
#include "component/platform/system_error.h"
#include "component/platform/this_thread.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/hex_address.h"
#include "component/sendara/base/detail/common/stop_callback.h"
#include "component/sendara/base/detail/common/tools_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::base {
namespace {

constexpr const char* kThreadName = "Sendara";

// Traces the exception being handled at level 300 with the chain.
void TraceCurrentException(oru::ITracer* tracer, std::string_view function,
                           std::string_view what) noexcept {
  try {
    std::string prefix = "[";
    prefix += function;
    prefix += "] ";
    prefix += what;
    oru::ExceptionToResult(tracer, prefix);
  } catch (...) {
  }
}

}  // namespace

PollingThread::PollingThread(oru::RefPtr<oru::ITracer> tracer,
                             std::shared_ptr<IPollingClient> client,
                             ExceptionHandler exceptionHandler, std::function<void()> onEnded)
    : m_state(std::make_shared<State>()) {
  SENDARA_CONTRACT(client != nullptr, "client");
  m_state->tracer = std::move(tracer);
  m_state->client = std::move(client);
  m_state->exceptionHandler = std::move(exceptionHandler);
  m_state->onEnded = std::move(onEnded);
  m_state->wakeupEvent = m_state->client->GetWakeupEvent();
  SENDARA_CONTRACT(m_state->wakeupEvent != nullptr, "wakeup event");

  try {
    m_thread = std::make_unique<platform::Thread>([state = m_state] { Run(state); });
  } catch (const std::system_error& error) {
    ThrowCheckFailed<tools_exception>(platform::ResultFromSystemError(error), SENDARA_FUNCTION_NAME,
                                      __FILE__, __LINE__, "can't start polling");
  }
  SENDARA_TRACE(m_state->tracer, TraceLevel::kInfo,
                "Created polling thread for client: 0x" << HexAddress(m_state->client.get())
                                                        << "; thread id = " << m_thread->Id());
}

PollingThread::~PollingThread() {
  try {
    SENDARA_TRACE(m_state->tracer, TraceLevel::kInfo,
                  "Destroy polling thread for client: 0x" << HexAddress(m_state->client.get()));
    // Runs the stop callback of Polling, which wakes a sleeping worker.
    m_state->stopSource.RequestStop();
    if (m_thread->IsCurrent()) {
      SENDARA_TRACE(m_state->tracer, TraceLevel::kWarning,
                    "destroyed on its own worker thread, worker detached");
      m_thread->Detach();
    } else {
      m_thread->Join();
    }
  } catch (...) {
    TraceCurrentException(m_state->tracer.Get(), SENDARA_FUNCTION_NAME, "failed to stop polling:");
  }
  // platform::Thread joins (or detaches) whatever is left when it goes.
}

void PollingThread::Run(const std::shared_ptr<State>& state) noexcept {
  platform::SetCurrentThreadName(kThreadName);
  try {
    Polling(*state, state->stopSource.GetToken());
  } catch (...) {
    // A failed wait or a handler that throws ends the worker; nothing may
    // leave the thread's entry function.
    TraceCurrentException(state->tracer.Get(), SENDARA_FUNCTION_NAME, "polling ended by exception:");
  }
  if (!state->onEnded) return;
  try {
    state->onEnded();
  } catch (...) {
    TraceCurrentException(state->tracer.Get(), SENDARA_FUNCTION_NAME, "end notice failed:");
  }
}

void PollingThread::Polling(State& state, const StopToken& stopToken) {
  platform::Event& wakeupEvent = *state.wakeupEvent;
  const StopCallback stopCallback(
      stopToken,
      [&state, &wakeupEvent] {
        SENDARA_TRACE(state.tracer, TraceLevel::kInfo,
                      "stopped, set wakeupEvent: 0x" << HexAddress(&wakeupEvent));
        SENDARA_CHECK_RESULT(wakeupEvent.Set(), tools_exception, "can't set event");
      },
      state.tracer);

  const HexAddress client(state.client.get());
  while (!stopToken.StopRequested()) {
    SENDARA_TRACE(state.tracer, TraceLevel::kInfo, "Start next polling iteration, client: 0x" << client);
    try {
      state.client->Process(stopToken);
    } catch (...) {
      if (!state.exceptionHandler(std::current_exception())) return;
      SENDARA_TRACE(state.tracer, TraceLevel::kInfo,
                    "caught exception don't break PollingThread, client: 0x" << client);
    }

    const std::uint32_t sleepTime = state.client->GetSleepTime();
    SENDARA_TRACE(state.tracer, TraceLevel::kInfo,
                  "Process again after sleep for " << sleepTime << ", client: 0x" << client);
    // The stop callback signals the client's event, but a client that drains
    // its own event during a pass could swallow that signal: look first.
    if (stopToken.StopRequested()) break;
    const oru::Result waitResult = wakeupEvent.Wait(sleepTime);
    SENDARA_CHECK(!oru::Failed(waitResult), tools_exception, waitResult, "can't wait event");
  }
  SENDARA_TRACE(state.tracer, TraceLevel::kInfo, "Exit by stop token, client: 0x" << client);
}

}  // namespace sendara::base
