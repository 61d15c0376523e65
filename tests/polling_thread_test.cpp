#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "component/platform/event.h"
#include "component/sendara/base/detail/base_client/polling_thread.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "host/tracer.h"
#include "thread_name.h"

namespace {

using namespace sendara::base;
using namespace std::chrono_literals;
using platform::Event;

constexpr std::uint32_t kOneHour = 3'600'000;

// A client whose passes run a script and record when they started.
class ScriptedClient : public IPollingClient {
 public:
  std::function<void(int pass, const StopToken&)> onProcess = [](int, const StopToken&) {};
  std::atomic<std::uint32_t> sleepTime{0};
  std::shared_ptr<Event> wakeup = std::make_shared<Event>(Event::ResetMode::kAuto);

  void Process(StopToken token) override {
    int pass;
    {
      std::lock_guard lock(m_mutex);
      m_starts.push_back(std::chrono::steady_clock::now());
      pass = static_cast<int>(m_starts.size());
    }
    m_passStarted.notify_all();
    onProcess(pass, token);
  }
  std::uint32_t GetSleepTime() override { return sleepTime; }
  std::shared_ptr<Event> GetWakeupEvent() override { return wakeup; }

  int Passes() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_starts.size());
  }
  bool WaitForPasses(int count, std::chrono::milliseconds timeout = 10s) const {
    std::unique_lock lock(m_mutex);
    return m_passStarted.wait_for(lock, timeout, [&] { return static_cast<int>(m_starts.size()) >= count; });
  }
  std::chrono::steady_clock::time_point StartOf(int pass) const {
    std::lock_guard lock(m_mutex);
    return m_starts.at(pass - 1);
  }

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_passStarted;
  std::vector<std::chrono::steady_clock::time_point> m_starts;
};

class PollingThreadTest : public ::testing::Test {
 protected:
  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create();
  std::shared_ptr<ScriptedClient> m_client = std::make_shared<ScriptedClient>();
  std::atomic<int> m_handled{0};

  PollingThread::ExceptionHandler Handler(bool keepPolling) {
    return [this, keepPolling](std::exception_ptr) {
      ++m_handled;
      return keepPolling;
    };
  }
  std::unique_ptr<PollingThread> Start(PollingThread::ExceptionHandler handler) {
    return std::make_unique<PollingThread>(oru::RefPtr<oru::ITracer>(m_tracer.Get()), m_client,
                                           std::move(handler));
  }
};

// The pass goes on after the stop, and drains the client's event as a client
// may: the stop's signal is taken, yet the worker must not sleep the hour.
TEST_F(PollingThreadTest, DestroyedDuringProcessFinishesThePassAndJoins) {
  m_client->sleepTime = kOneHour;
  Event entered(Event::ResetMode::kManual);
  std::atomic<bool> sawStop{false};
  std::atomic<bool> passFinished{false};
  m_client->onProcess = [&](int, const StopToken& token) {
    entered.Set();
    while (!token.StopRequested()) std::this_thread::sleep_for(1ms);
    sawStop = true;
    m_client->wakeup->Wait(0);
    std::this_thread::sleep_for(20ms);  // the pass goes on after the stop
    passFinished = true;
  };
  auto polling = Start(Handler(true));
  ASSERT_EQ(entered.Wait(10000), Event::kSignalled);
  const auto start = std::chrono::steady_clock::now();
  polling.reset();

  EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
  EXPECT_TRUE(sawStop);
  EXPECT_TRUE(passFinished);
  EXPECT_EQ(m_client->Passes(), 1);
  EXPECT_EQ(m_tracer->Count("Exit by stop token, client: 0x"), 1u);
  EXPECT_EQ(m_tracer->Count("stopped, set wakeupEvent: 0x"), 1u);
  EXPECT_EQ(m_tracer->Count("Destroy polling thread for client: 0x"), 1u);
  const auto created = m_tracer->LinesContaining("Created polling thread for client: 0x");
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0].text.rfind("[sendara::base::PollingThread::PollingThread] ", 0), 0u);
  EXPECT_NE(created[0].text.find("; thread id = "), std::string::npos);
}

TEST_F(PollingThreadTest, ThrowingPassesGoOnWithTheFullSleepWhileTheHandlerAllows) {
  m_client->sleepTime = 40;
  m_client->onProcess = [](int, const StopToken&) { throw std::runtime_error("send failed"); };
  auto polling = Start(Handler(true));
  ASSERT_TRUE(m_client->WaitForPasses(3));
  polling.reset();

  EXPECT_GE(m_handled, 2);
  EXPECT_GE(m_client->StartOf(2) - m_client->StartOf(1), 40ms);
  EXPECT_GE(m_client->StartOf(3) - m_client->StartOf(2), 40ms);
  EXPECT_GE(m_tracer->Count("caught exception don't break PollingThread, client: 0x"), 2u);
  EXPECT_GE(m_tracer->Count("Process again after sleep for 40, client: 0x"), 2u);
}

TEST_F(PollingThreadTest, HandlerThatSaysStopEndsTheWorkerAndDestructionStillWorks) {
  m_client->sleepTime = 0;
  m_client->onProcess = [](int, const StopToken&) { throw std::runtime_error("fatal"); };
  auto polling = Start(Handler(false));
  ASSERT_TRUE(m_client->WaitForPasses(1));
  std::this_thread::sleep_for(50ms);  // time for passes that must not come
  polling.reset();
  EXPECT_EQ(m_client->Passes(), 1);
  EXPECT_EQ(m_handled, 1);
  EXPECT_EQ(m_tracer->Count("Exit by stop token"), 0u);
  EXPECT_EQ(m_tracer->Count("caught exception don't break"), 0u);
}

TEST_F(PollingThreadTest, SleepOfZeroRunsPassesBackToBack) {
  m_client->sleepTime = 0;
  auto polling = Start(Handler(true));
  EXPECT_TRUE(m_client->WaitForPasses(50));
}

// The client's event ends an hour's sleep: set during a pass, the next wait
// returns at once; set while the worker sleeps, it wakes it.
TEST_F(PollingThreadTest, ClientEventEndsTheSleepWhenSetDuringAPassOrTheSleep) {
  m_client->sleepTime = kOneHour;
  m_client->onProcess = [this](int pass, const StopToken&) {
    if (pass == 1) m_client->wakeup->Set();
  };
  auto polling = Start(Handler(true));
  ASSERT_TRUE(m_client->WaitForPasses(2));
  EXPECT_FALSE(m_client->WaitForPasses(3, 50ms));
  m_client->wakeup->Set();
  EXPECT_TRUE(m_client->WaitForPasses(3));
}

TEST_F(PollingThreadTest, ThrowingHandlerEndsTheWorkerWithoutEndingTheProcess) {
  m_client->onProcess = [](int, const StopToken&) { throw std::runtime_error("first"); };
  auto polling = Start([](std::exception_ptr) -> bool { throw std::logic_error("handler broke"); });
  ASSERT_TRUE(m_tracer->WaitFor("polling ended by exception", 10s));
  const auto lines = m_tracer->LinesContaining("polling ended by exception");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 300);
  EXPECT_NE(lines[0].text.find("handler broke"), std::string::npos);
  polling.reset();
  EXPECT_EQ(m_client->Passes(), 1);
}

TEST_F(PollingThreadTest, EmptyHandlerIsABadFunctionCallThatEndsOnlyTheWorker) {
  m_client->onProcess = [](int, const StopToken&) { throw std::runtime_error("x"); };
  auto polling = Start(nullptr);
  ASSERT_TRUE(m_tracer->WaitFor("polling ended by exception", 10s));
  EXPECT_NE(m_tracer->LinesContaining("polling ended by exception")[0].text.find("bad_function_call"),
            std::string::npos);
}

// A client whose pass drops the last owner of its PollingThread: the worker
// cannot join itself, and must not touch freed memory afterwards.
TEST_F(PollingThreadTest, DestroyedFromItsOwnPassLeavesCleanly) {
  Event done(Event::ResetMode::kManual);
  auto polling = std::make_shared<std::unique_ptr<PollingThread>>();
  Event started(Event::ResetMode::kManual);
  m_client->sleepTime = 0;
  m_client->onProcess = [&, polling](int pass, const StopToken& token) {
    if (pass != 1) return;
    started.Wait(Event::kInfinite);
    polling->reset();
    EXPECT_TRUE(token.StopRequested());
    done.Set();
  };
  *polling = Start(Handler(true));
  started.Set();
  ASSERT_EQ(done.Wait(10000), Event::kSignalled);
  ASSERT_TRUE(m_tracer->WaitFor("Exit by stop token", 10s));
  EXPECT_EQ(m_client->Passes(), 1);
  EXPECT_EQ(m_tracer->Count("destroyed on its own worker thread"), 1u);
}

TEST_F(PollingThreadTest, WorkerIsNamedAndClientIsChecked) {
  std::string name;
  Event named(Event::ResetMode::kManual);
  m_client->sleepTime = kOneHour;
  m_client->onProcess = [&](int, const StopToken&) {
    name = CurrentThreadNameForTest();
    named.Set();
  };
  auto polling = Start(Handler(true));
  ASSERT_EQ(named.Wait(10000), Event::kSignalled);
  EXPECT_EQ(name, "Sendara");
  polling.reset();

  EXPECT_THROW(PollingThread(oru::RefPtr<oru::ITracer>(m_tracer.Get()), nullptr, Handler(true)),
               contract_exception);
  m_client->wakeup.reset();
  EXPECT_THROW(Start(Handler(true)), contract_exception);
}

}  // namespace
