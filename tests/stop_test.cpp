#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "component/platform/event.h"
#include "component/platform/this_thread.h"
#include "component/sendara/base/detail/common/stop_callback.h"
#include "component/sendara/base/detail/common/stop_source.h"
#include "host/tracer.h"

namespace {

using namespace sendara::base;
using namespace std::chrono_literals;

TEST(Stop, RequestStopReportsTheFirstRequestOnlyAndTokensSeeIt) {
  StopSource source;
  const StopToken token = source.GetToken();
  const StopToken copy = token;
  EXPECT_FALSE(copy.StopRequested());
  EXPECT_TRUE(source.RequestStop());
  EXPECT_FALSE(source.RequestStop());
  EXPECT_TRUE(token.StopRequested());
  EXPECT_TRUE(copy.StopRequested());
  EXPECT_FALSE(StopToken().StopPossible());
  EXPECT_TRUE(token.StopPossible());

  std::optional<StopSource> lone(std::in_place);
  const StopToken orphan = lone->GetToken();
  EXPECT_TRUE(orphan.StopPossible());
  lone.reset();
  EXPECT_FALSE(orphan.StopPossible());
}

// The order among the callbacks of one stop is not promised; nothing may
// depend on it.
TEST(Stop, EveryCallbackRunsOnceOnTheRequestingThread) {
  StopSource source;
  std::vector<int> order;
  std::uint32_t ranOn = 0;
  StopCallback first(source.GetToken(), [&] { order.push_back(1); ranOn = platform::CurrentThreadId(); });
  StopCallback second(source.GetToken(), [&] { order.push_back(2); });
  std::atomic<std::uint32_t> requesterId{0};
  std::thread requester([&] {
    requesterId = platform::CurrentThreadId();
    source.RequestStop();
  });
  requester.join();
  EXPECT_EQ(ranOn, requesterId.load());
  source.RequestStop();
  std::sort(order.begin(), order.end());
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(Stop, CallbackRegisteredAfterTheStopRunsAtOnceOnTheRegisteringThread) {
  StopSource source;
  source.RequestStop();
  std::uint32_t ranOn = 0;
  StopCallback late(source.GetToken(), [&] { ranOn = platform::CurrentThreadId(); });
  EXPECT_EQ(ranOn, platform::CurrentThreadId());
}

TEST(Stop, ThrowingCallbackIsTracedAndTheOthersStillRun) {
  const auto tracer = reference_host::Tracer::Create();
  StopSource source;
  bool secondRan = false;
  StopCallback first(source.GetToken(), [] { throw std::runtime_error("can't set event"); },
                     oru::RefPtr<oru::ITracer>(tracer.Get()));
  StopCallback second(source.GetToken(), [&] { secondRan = true; });
  EXPECT_TRUE(source.RequestStop());
  EXPECT_TRUE(secondRan);
  const auto lines = tracer->LinesContaining("stop callback failed");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 300);
  EXPECT_NE(lines[0].text.find("can't set event"), std::string::npos);
}

TEST(Stop, DestroyedCallbackWaitsForItsRunOnAnotherThread) {
  StopSource source;
  platform::Event entered(platform::Event::ResetMode::kManual);
  std::atomic<bool> finished{false};
  auto callback = std::make_unique<StopCallback>(source.GetToken(), [&] {
    entered.Set();
    std::this_thread::sleep_for(50ms);
    finished = true;
  });
  std::thread requester([&] { source.RequestStop(); });
  ASSERT_EQ(entered.Wait(5000), platform::Event::kSignalled);
  callback.reset();  // must not return while the callback is still running
  EXPECT_TRUE(finished);
  requester.join();
}

TEST(Stop, CallbackMayDestroyItselfWithoutWaitingForItself) {
  StopSource source;
  std::unique_ptr<StopCallback> callback;
  bool ran = false;
  callback = std::make_unique<StopCallback>(source.GetToken(), [&] {
    ran = true;
    callback.reset();
  });
  source.RequestStop();
  EXPECT_TRUE(ran);
  EXPECT_EQ(callback, nullptr);
}

// Callbacks come and go on several threads while the stop is requested: each
// runs at most once, and none is still running once its destructor returned.
TEST(Stop, CallbacksComingAndGoingDuringTheStopNeverOutliveTheirDestructor) {
  for (int round = 0; round < 200; ++round) {
    StopSource source;
    std::atomic<int> lateRuns{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 20; ++i) {
          std::atomic<bool> destroyed{false};
          std::atomic<int> runs{0};
          {
            StopCallback callback(source.GetToken(), [&] {
              if (destroyed) ++lateRuns;
              if ((i + t) % 3 == 0) std::this_thread::yield();
              if (destroyed) ++lateRuns;
              ++runs;
            });
            if (i % 2) std::this_thread::yield();
          }
          destroyed = true;
          if (runs > 1) ++lateRuns;
        }
      });
    }
    std::thread requester([&] { source.RequestStop(); });
    for (auto& thread : threads) thread.join();
    requester.join();
    ASSERT_EQ(lateRuns.load(), 0) << "round " << round;
  }
}

TEST(Stop, DeregisteredCallbackNeverRuns) {
  StopSource source;
  bool ran = false;
  { StopCallback callback(source.GetToken(), [&] { ran = true; }); }
  source.RequestStop();
  EXPECT_FALSE(ran);
}

}  // namespace
