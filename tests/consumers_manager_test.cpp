#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "component/oru/class_table.h"
#include "component/oru/event_source.h"
#include "component/platform/event.h"
#include "component/sendara/edr_telemetry/source/consumers_manager/siem_telemetry_consumers_manager.h"
#include "finishes_in_time.h"
#include "host/sensitive_data_policy.h"
#include "host/service_locator.h"
#include "host/tracer.h"

namespace {

using namespace sendara::edr_telemetry;
using platform::Event;
namespace rc = oru::rc;

template <class T>
std::uint32_t References(const oru::RefPtr<T>& object) {
  object->AddRef();
  return object->Release();
}

class FakeConsumer final : public oru::BasicObject<FakeConsumer, oru::UncountedObject, ISiemTelemetryConsumer> {
 public:
  explicit FakeConsumer(std::uint64_t id) : m_id(id) {}
  ~FakeConsumer() override {
    if (m_inCall) *freedInItsCall = true;
    if (onDestroy) onDestroy();
  }

  oru::Result GetConsumerId(std::uint64_t* id) noexcept override {
    *id = m_id;
    return rc::NoError;
  }
  oru::Result SetAllEventTypesDefaultSettings(const std::vector<EventTypeSetting>&) noexcept override {
    InCall(onDefaults);
    return rc::NoError;
  }
  oru::Result GetAllEventTypesSettings(std::vector<EventTypeSetting>& out) noexcept override {
    InCall(onAsked);
    if (oru::Succeeded(settingsResult)) out = {{u"T", true}};
    return settingsResult;
  }
  oru::Result GetIncludeRules(std::u16string&) noexcept override { return rc::NotImplemented; }
  oru::Result SendEvent(std::u16string_view event) noexcept override {
    lastEvent = event;
    return rc::False;
  }
  oru::Result ShouldEventBeDropped(std::uint32_t, std::u16string_view, bool* dropped) noexcept override {
    InCall(onAsked);
    ++asked;
    *dropped = drops;
    return dropResult;
  }
  oru::Result ShouldEventOrIoaBeDropped(std::uint32_t, std::u16string_view, std::u16string_view, std::vector<Ioa>&,
                                        bool*) noexcept override {
    return rc::NotImplemented;
  }

  std::function<void()> onDefaults, onAsked, onDestroy;
  oru::Result settingsResult = rc::NoError, dropResult = rc::NoError;
  bool drops = true;
  int asked = 0;
  std::u16string lastEvent;
  // Shared: read after the consumer has gone.
  const std::shared_ptr<bool> freedInItsCall = std::make_shared<bool>(false);

 private:
  void InCall(const std::function<void()>& hook) {
    if (!hook) return;
    m_inCall = true;
    hook();
    m_inCall = false;
  }

  const std::uint64_t m_id;
  bool m_inCall = false;
};

class Listener final : public oru::BasicObject<Listener, oru::UncountedObject, ISiemTelemetryConsumersChangedEvent> {
 public:
  oru::Result OnConsumersChanged() noexcept override {
    ++calls;
    if (onCall) onCall(this);
    return rc::NoError;
  }
  std::function<void(Listener*)> onCall;
  int calls = 0;
};

class ConsumersManagerTest : public ::testing::Test {
 protected:
  ConsumersManagerTest() {
    m_locator->Register(m_tracer);
    m_manager = SiemTelemetryConsumersManager::Create(m_locator.Get());
    m_manager->Subscribe(m_listener.Get());
  }

  const oru::RefPtr<reference_host::ServiceLocator> m_locator = reference_host::ServiceLocator::Create();
  const oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create();
  const oru::RefPtr<Listener> m_listener = Listener::Create();
  oru::RefPtr<SiemTelemetryConsumersManager> m_manager;
};

TEST_F(ConsumersManagerTest, EveryConsumerIsAskedAndOneThatWantsTheEventKeepsIt) {
  const auto drops = FakeConsumer::Create(1), keeps = FakeConsumer::Create(2), broken = FakeConsumer::Create(3);
  keeps->drops = broken->drops = false;
  broken->dropResult = rc::AccessDenied;
  for (const auto& consumer : {drops, keeps, broken}) m_manager->AddTelemetryConsumer(consumer.Get());

  bool dropped = true;
  EXPECT_EQ(m_manager->ShouldEventBeDropped(1, u"Process", &dropped), rc::NoError);
  EXPECT_FALSE(dropped);
  EXPECT_EQ(drops->asked + keeps->asked + broken->asked, 3);
  EXPECT_EQ(m_tracer->Count("skip should be dropped: consumer id = 3; result = 0x80000045"), 1u);

  // A failing consumer is left out, one that is not ready fails the whole call.
  broken->settingsResult = rc::NotFound;
  std::vector<ConsumerEventTypeSettings> settings;
  ASSERT_EQ(m_manager->GetAllEventTypesSettings(settings), rc::NoError);
  EXPECT_EQ(settings.size(), 2u);
  keeps->settingsResult = rc::NotInitialized;
  settings.clear();
  EXPECT_EQ(m_manager->GetAllEventTypesSettings(settings), rc::NotInitialized);
  EXPECT_TRUE(settings.empty());
  EXPECT_EQ(m_tracer->Count("additional_info = consumer id = 2"), 1u);
}

TEST_F(ConsumersManagerTest, ANewConsumerReplacesItsIdAndOnlyTheRegisteredObjectIsRemoved) {
  const auto first = FakeConsumer::Create(7), second = FakeConsumer::Create(7);
  m_manager->AddTelemetryConsumer(first.Get());
  m_manager->AddTelemetryConsumer(second.Get());
  EXPECT_EQ(References(first), 1u);
  EXPECT_EQ(m_manager->SendEvent(7, u"{\"e\":1}"), rc::False);
  EXPECT_EQ(second->lastEvent, u"{\"e\":1}");

  m_manager->RemoveTelemetryConsumer(first.Get());
  std::vector<std::uint64_t> ids;
  m_manager->GetSiemTelemetryConsumers(ids);
  EXPECT_EQ(ids, std::vector<std::uint64_t>{7});
  m_manager->RemoveTelemetryConsumer(second.Get());
  EXPECT_EQ(m_listener->calls, 4);

  bool dropped = false;
  EXPECT_EQ(m_manager->ShouldEventBeDropped(1, u"Process", &dropped), rc::NoError);
  EXPECT_TRUE(dropped);
  EXPECT_EQ(m_manager->SendEvent(7, u"{}"), rc::NotFound);
}

TEST_F(ConsumersManagerTest, ClassTableCreatesItAndEventsAreTracedOnlyWhenThePolicyAllowsAndAtDetail) {
  const auto policy = reference_host::SensitiveDataPolicy::Create(false);
  m_locator->Register(policy);
  oru::IObject* object = nullptr;
  ASSERT_EQ(oru::ClassTable::CreateObject(0x9F3C653C, m_locator.Get(), &object), rc::NoError);
  const auto created = oru::RefPtr<oru::IObject>::Adopt(object);
  const auto provider = oru::QueryInterfaceAs<ISiemTelemetryConsumersProvider>(object);
  const auto manager = oru::QueryInterfaceAs<ISiemTelemetryConsumersManager>(object);
  ASSERT_TRUE(provider && manager && oru::QueryInterfaceAs<ISiemTelemetryConsumersChangedEventSource>(object));
  manager->AddTelemetryConsumer(FakeConsumer::Create(1).Get());

  provider->SendEvent(1, u"{\"secret\":1}");
  policy->SetAllowed(true);
  provider->SendEvent(1, u"{\"open\":1}");
  EXPECT_EQ(m_tracer->Count("in: consumer id = 1; event = <sensitive data was hidden>"), 1u);
  EXPECT_EQ(m_tracer->Count("in: consumer id = 1; event = {\"open\":1}"), 1u);

  m_tracer->SetMaximumLevel(700);
  const auto questions = policy->Questions();
  provider->SendEvent(1, u"{}");
  EXPECT_EQ(policy->Questions(), questions);
}

TEST_F(ConsumersManagerTest, ConsumersMayCallBackAndAReplacedOneIsReleasedOutsideTheLock) {
  const auto callsBack = FakeConsumer::Create(1);
  callsBack->onDefaults = [manager = m_manager.Get()] { manager->SendConsumerChanged(); };
  m_manager->AddTelemetryConsumer(callsBack.Get());
  // Held only by the manager, whose GetSiemTelemetryConsumers its destructor calls.
  auto replaced = FakeConsumer::Create(2);
  replaced->onDestroy = [manager = m_manager.Get()] {
    std::vector<std::uint64_t> ids;
    manager->GetSiemTelemetryConsumers(ids);
  };
  m_manager->AddTelemetryConsumer(replaced.Get());
  replaced.Reset();

  EXPECT_TRUE(FinishesInTime([manager = m_manager] {
    manager->SetAllEventTypesDefaultSettings({{u"A", true}});
    manager->AddTelemetryConsumer(FakeConsumer::Create(2).Get());
  }));
  EXPECT_EQ(m_listener->calls, 4);
}

// A consumer that removes itself and the next one while the manager walks
// them: the walk goes on over what it started with, and neither is freed
// while it is being called.
TEST_F(ConsumersManagerTest, ConsumersRemovedDuringAWalkLiveUntilTheirCallsReturn) {
  const std::vector<std::function<void(SiemTelemetryConsumersManager&)>> walks = {
      [](SiemTelemetryConsumersManager& manager) { manager.SetAllEventTypesDefaultSettings({{u"A", true}}); },
      [](SiemTelemetryConsumersManager& manager) {
        std::vector<ConsumerEventTypeSettings> settings;
        manager.GetAllEventTypesSettings(settings);
      },
      [](SiemTelemetryConsumersManager& manager) {
        bool dropped = false;
        manager.ShouldEventBeDropped(1, u"A", &dropped);
      },
  };
  for (const auto& walk : walks) {
    auto first = FakeConsumer::Create(1), second = FakeConsumer::Create(2);
    const std::shared_ptr<bool> firstFreedInCall = first->freedInItsCall;
    const std::shared_ptr<bool> secondFreedInCall = second->freedInItsCall;
    const auto removeBoth = [manager = m_manager.Get(), a = first.Get(), b = second.Get()] {
      manager->RemoveTelemetryConsumer(a);
      manager->RemoveTelemetryConsumer(b);
    };
    for (FakeConsumer* consumer : {first.Get(), second.Get()}) {
      consumer->onDefaults = consumer->onAsked = removeBoth;
      m_manager->AddTelemetryConsumer(consumer);
    }
    // The manager holds them alone.
    first.Reset();
    second.Reset();
    walk(*m_manager);
    EXPECT_FALSE(*firstFreedInCall);
    EXPECT_FALSE(*secondFreedInCall);
    std::vector<std::uint64_t> ids;
    m_manager->GetSiemTelemetryConsumers(ids);
    EXPECT_TRUE(ids.empty());
  }
}

// EventSource

TEST(EventSource, AListenerUnsubscribedDuringItsCallIsReleasedAfterItAndItsEntryReusedOnlyThen) {
  oru::EventSource<Listener> source;
  const auto first = Listener::Create();
  Event entered(Event::ResetMode::kManual);
  Event release(Event::ResetMode::kManual);
  first->onCall = [&](Listener*) {
    entered.Set();
    release.Wait(Event::kInfinite);
  };
  source.Subscribe(first.Get());
  std::thread notifier([&] { source.Notify([](auto& listener) { listener.OnConsumersChanged(); }); });
  entered.Wait(Event::kInfinite);

  EXPECT_EQ(source.Unsubscribe(first.Get()), rc::NoError);
  EXPECT_EQ(source.Unsubscribe(first.Get()), rc::NotFound);
  EXPECT_EQ(References(first), 2u);
  const auto second = Listener::Create();
  source.Subscribe(second.Get());
  release.Set();
  notifier.join();
  EXPECT_EQ(References(first), 1u);

  // The first entry is free now and comes before the second's.
  std::vector<Listener*> order;
  const auto third = Listener::Create();
  source.Subscribe(third.Get());
  source.Notify([&](Listener& listener) { order.push_back(&listener); });
  EXPECT_EQ(order, (std::vector<Listener*>{third.Get(), second.Get()}));
}

TEST(EventSource, UnsubscribeAndWaitWaitsForOtherThreadsButNotForItsOwnCall) {
  // Shared with the thread that may hang; it holds the listeners.
  const auto shared = std::make_shared<oru::EventSource<Listener>>();
  auto& source = *shared;
  const auto self = Listener::Create();
  self->onCall = [&source](Listener* listener) { EXPECT_EQ(source.UnsubscribeAndWait(listener), rc::NoError); };
  const auto thrower = Listener::Create();
  source.Subscribe(thrower.Get());
  source.Subscribe(self.Get());
  EXPECT_TRUE(FinishesInTime([shared] {
    shared->Notify([](Listener& listener) {
      if (!listener.onCall) throw std::runtime_error("listener broke");
      listener.OnConsumersChanged();
    });
  }));
  EXPECT_EQ(self->calls, 1);
  EXPECT_EQ(References(self), 1u);

  Event entered(Event::ResetMode::kManual);
  std::atomic<bool> returned{false};
  self->onCall = [&](Listener*) {
    entered.Set();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    returned = true;
  };
  source.Subscribe(self.Get());
  std::thread notifier([&] { source.Notify([](Listener& listener) { listener.OnConsumersChanged(); }); });
  entered.Wait(Event::kInfinite);
  EXPECT_EQ(source.UnsubscribeAndWait(self.Get()), rc::NoError);
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(References(self), 1u);
  notifier.join();
}

}  // namespace
