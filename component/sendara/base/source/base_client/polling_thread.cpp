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
                             ExceptionHandler exceptionHandler)
    : m_tracer(std::move(tracer)),
      m_client(std::move(client)),
      m_exceptionHandler(std::move(exceptionHandler)) {
  SENDARA_CONTRACT(m_client != nullptr, "client");
  m_wakeupEvent = m_client->GetWakeupEvent();
  SENDARA_CONTRACT(m_wakeupEvent != nullptr, "wakeup event");

  try {
    m_thread = std::make_unique<platform::Thread>([this] { Run(); });
  } catch (const std::system_error& error) {
    ThrowCheckFailed<tools_exception>(platform::ResultFromSystemError(error), SENDARA_FUNCTION_NAME,
                                      __FILE__, __LINE__, "can't start polling");
  }
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                "Created polling thread for client: 0x" << HexAddress(m_client.get())
                                                        << "; thread id = " << m_thread->Id());
}

PollingThread::~PollingThread() {
  try {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                  "Destroy polling thread for client: 0x" << HexAddress(m_client.get()));
    // Runs the stop callback of Polling, which wakes a sleeping worker.
    m_stopSource.RequestStop();
    if (m_thread->IsCurrent()) {
      // Destroyed from its own client or handler: it cannot wait for itself.
      SENDARA_TRACE(m_tracer, TraceLevel::kError,
                    "destroyed on its own worker thread, worker detached");
      m_thread->Detach();
    } else {
      m_thread->Join();
    }
  } catch (...) {
    TraceCurrentException(m_tracer.Get(), SENDARA_FUNCTION_NAME, "failed to stop polling:");
  }
  // platform::Thread joins (or detaches) whatever is left when it goes.
}

void PollingThread::Run() noexcept {
  platform::SetCurrentThreadName(kThreadName);
  try {
    Polling(m_stopSource.GetToken());
  } catch (...) {
    // A failed wait or a handler that throws ends the worker; nothing may
    // leave the thread's entry function.
    TraceCurrentException(m_tracer.Get(), SENDARA_FUNCTION_NAME, "polling ended by exception:");
  }
}

void PollingThread::Polling(const StopToken& stopToken) {
  const StopCallback stopCallback(
      stopToken,
      [this] {
        SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                      "stopped, set wakeupEvent: 0x" << HexAddress(m_wakeupEvent.get()));
        SENDARA_CHECK_RESULT(m_wakeupEvent->Set(), tools_exception, "can't set event");
      },
      m_tracer);

  const HexAddress client(m_client.get());
  while (!stopToken.StopRequested()) {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "Start next polling iteration, client: 0x" << client);
    try {
      m_client->Process(stopToken);
    } catch (...) {
      if (!m_exceptionHandler(std::current_exception())) return;
      SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                    "caught exception don't break PollingThread, client: 0x" << client);
    }

    const std::uint32_t sleepTime = m_client->GetSleepTime();
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                  "Process again after sleep for " << sleepTime << ", client: 0x" << client);
    const oru::Result waitResult = Wait(*m_wakeupEvent, sleepTime);
    SENDARA_CHECK(!oru::Failed(waitResult), tools_exception, waitResult, "can't wait event");
  }
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "Exit by stop token, client: 0x" << client);
}

oru::Result PollingThread::Wait(platform::Event& event, std::uint32_t timeoutMilliseconds) {
  return event.Wait(timeoutMilliseconds);
}

}  // namespace sendara::base
