#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/signals2/signal.hpp>
#include <gtest/gtest.h>

#include "component/platform/event.h"
#include "component/sendara/base/detail/common/thread_safe_subscription.h"
#include "host/tracer.h"

namespace {

using namespace sendara::base;
using namespace std::chrono_literals;
using platform::Event;

struct Settings {
  int package = 0;
};

using SettingsSubscription = ThreadSafeSubscription<void(const Settings&)>;
using NotifySubscription = ThreadSafeSubscription<void()>;

class SubscriptionTest : public ::testing::Test {
 protected:
  oru::RefPtr<oru::ITracer> Tracer() { return oru::RefPtr<oru::ITracer>(m_tracer.Get()); }
  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create();
};

TEST_F(SubscriptionTest, DeliversUntilUnsubscribedAndUnsubscribeIsIdempotent) {
  boost::signals2::signal<void(const Settings&)> signal;
  std::vector<int> received;
  std::shared_ptr<ISubscription> subscription = std::make_shared<SettingsSubscription>(
      Tracer(), signal, "sendara::Client::Client", [&](const Settings& s) { received.push_back(s.package); });
  signal(Settings{3});
  signal(Settings{5});
  subscription->Unsubscribe();
  signal(Settings{7});
  EXPECT_EQ(received, (std::vector<int>{3, 5}));
  EXPECT_EQ(m_tracer->Count("unsubscribe sendara::Client::Client"), 1u);

  subscription->Unsubscribe();
  EXPECT_EQ(m_tracer->Count("unsubscribe sendara::Client::Client"), 1u);
  EXPECT_EQ(signal.num_slots(), 0u);
}

TEST_F(SubscriptionTest, ThrowingCallbackIsTracedAndTheOtherSubscribersStillRun) {
  boost::signals2::signal<void()> signal;
  bool secondCalled = false;
  NotifySubscription first(Tracer(), signal, "first", [] { throw std::runtime_error("subscriber broke"); });
  NotifySubscription second(Tracer(), signal, "second", [&] { secondCalled = true; });
  EXPECT_NO_THROW(signal());
  EXPECT_TRUE(secondCalled);
  const auto lines = m_tracer->LinesContaining("callback of first failed");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 300);
  EXPECT_NE(lines[0].text.find("subscriber broke"), std::string::npos);
}

TEST_F(SubscriptionTest, UnsubscribeWaitsForARunningCallback) {
  boost::signals2::signal<void()> signal;
  Event entered(Event::ResetMode::kManual);
  Event release(Event::ResetMode::kManual);
  std::atomic<bool> callbackDone{false};
  NotifySubscription subscription(Tracer(), signal, "slow", [&] {
    entered.Set();
    release.Wait(Event::kInfinite);
    callbackDone = true;
  });
  std::thread emitter([&] { signal(); });
  ASSERT_EQ(entered.Wait(10000), Event::kSignalled);

  std::atomic<bool> unsubscribed{false};
  std::thread unsubscriber([&] {
    subscription.Unsubscribe();
    unsubscribed = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(unsubscribed);
  release.Set();
  unsubscriber.join();
  EXPECT_TRUE(callbackDone);
  emitter.join();
}

// Dropping a subscription from outside its callback is the settings
// provider's (client_settings_test, SubscribersMayReadBack...).
TEST_F(SubscriptionTest, CallbackMayDropItsOwnSubscriptionAndReEmit) {
  boost::signals2::signal<void()> signal;
  int calls = 0;
  std::shared_ptr<ISubscription> subscription;
  subscription = std::make_shared<NotifySubscription>(Tracer(), signal, "one-shot", [&] {
    ++calls;
    subscription.reset();  // would wait for itself if it took the lock
  });
  signal();
  signal();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(m_tracer->Count("client: one-shot"), 2u);  // construction and destruction
  EXPECT_EQ(m_tracer->Count("unsubscribe one-shot"), 1u);

  int depth = 0;
  int deliveries = 0;
  NotifySubscription echo(Tracer(), signal, "echo", [&] {
    ++deliveries;
    if (++depth < 3) signal();  // nested emission on the same thread
    --depth;
  });
  signal();
  EXPECT_EQ(deliveries, 3);
}

// Emitters keep going while the subscription is unsubscribed and destroyed:
// once Unsubscribe has returned no callback runs, and an emission that had
// passed the connection check never touches the destroyed subscription.
TEST_F(SubscriptionTest, NoDeliveryAfterUnsubscribeWhileOthersEmit) {
  m_tracer->SetMaximumLevel(300);
  boost::signals2::signal<void(const Settings&)> signal;
  for (int round = 0; round < 50; ++round) {
    std::atomic<bool> unsubscribed{false};
    std::atomic<int> lateCalls{0};
    std::atomic<int> calls{0};
    std::atomic<int> running{0};
    auto subscription = std::make_unique<SettingsSubscription>(
        Tracer(), signal, "round", [&](const Settings&) {
          ++running;
          ++calls;
          if (unsubscribed) ++lateCalls;
          // Long enough that a callback is nearly always running when
          // Unsubscribe is called.
          std::this_thread::sleep_for(200us);
          if (unsubscribed) ++lateCalls;
          --running;
        });
    std::atomic<bool> stop{false};
    std::vector<std::thread> emitters;
    for (int e = 0; e < 3; ++e) {
      emitters.emplace_back([&] {
        while (!stop) signal(Settings{1});
      });
    }
    while (calls < 10) std::this_thread::yield();
    subscription->Unsubscribe();
    unsubscribed = true;
    EXPECT_EQ(running, 0) << "round " << round;
    subscription.reset();
    std::this_thread::sleep_for(1ms);
    stop = true;
    for (auto& emitter : emitters) emitter.join();
    ASSERT_EQ(lateCalls, 0) << "round " << round;
  }
}

}  // namespace
