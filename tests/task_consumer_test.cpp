#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "component/oru/check_result_failed_exception.h"
#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/edr_telemetry/source/task/task_siem_telemetry_consumer.h"
#include "host/service_locator.h"
#include "host/tracer.h"

namespace {

using namespace sendara::edr_telemetry;
using namespace sendara::edr_telemetry::task;
namespace rc = oru::rc;
using Types = std::vector<EventTypeSetting>;
using Excluded = std::vector<std::u16string>;

class FakeManager final : public oru::BasicObject<FakeManager, oru::UncountedObject, ISiemTelemetryConsumersManager> {
 public:
  oru::Result AddTelemetryConsumer(ISiemTelemetryConsumer*) noexcept override { return rc::NotImplemented; }
  oru::Result RemoveTelemetryConsumer(ISiemTelemetryConsumer*) noexcept override { return rc::NotImplemented; }
  oru::Result SendConsumerChanged() noexcept override {
    ++changes;
    return rc::NoError;
  }
  std::atomic<int> changes{0};
};

class Listeners final
    : public oru::BasicObject<Listeners, oru::UncountedObject, ISiemTelemetryExcludeSettingsChangedEvent,
                              ISiemTelemetryReportEvent, ISiemTelemetryDeciderEvent> {
 public:
  explicit Listeners(bool drops = false, oru::Result decision = rc::NoError) : m_drops(drops), m_decision(decision) {}

  oru::Result OnExcludeSettingsChanged(const std::vector<std::u16string>& types) noexcept override {
    excluded.push_back(types);
    return rc::NoError;
  }
  oru::Result OnReport(std::u16string_view event) noexcept override {
    reported.emplace_back(event);
    return rc::Unexpected;
  }
  oru::Result ShouldEventBeDropped(std::uint32_t, std::u16string_view, bool* dropped) noexcept override {
    *dropped = m_drops;
    return m_decision;
  }
  oru::Result ShouldEventOrIoaBeDropped(std::uint32_t, std::u16string_view, std::u16string_view, std::vector<Ioa>& ioas,
                                        bool* dropped) noexcept override {
    for (Ioa& ioa : ioas) ioa.isMarkable = false;
    *dropped = m_drops;
    return m_decision;
  }

  // Deliveries are serialised by the consumer; read once they are over.
  std::vector<Excluded> excluded;
  std::vector<std::u16string> reported;

 private:
  const bool m_drops;
  const oru::Result m_decision;
};

class TaskConsumerTest : public ::testing::Test {
 protected:
  TaskConsumerTest() {
    m_locator->Register(m_tracer);
    m_locator->Register(m_manager);
    m_consumer = TaskSiemTelemetryConsumer::Create(m_locator.Get(), 42);
    m_consumer->Subscribe(static_cast<ISiemTelemetryExcludeSettingsChangedEvent*>(m_listeners.Get()));
  }

  Types Actual() {
    Types actual;
    EXPECT_EQ(m_consumer->GetAllEventTypesSettings(actual), rc::NoError);
    return actual;
  }

  const oru::RefPtr<reference_host::ServiceLocator> m_locator = reference_host::ServiceLocator::Create();
  const oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create();
  const oru::RefPtr<FakeManager> m_manager = FakeManager::Create();
  const oru::RefPtr<Listeners> m_listeners = Listeners::Create();
  oru::RefPtr<TaskSiemTelemetryConsumer> m_consumer;
};

TEST_F(TaskConsumerTest, UserTypesOverrideTheDefaultsAndOnlyRealChangesAreAnnounced) {
  Types actual;
  m_consumer->SetAllEventTypesDefaultSettings({{u"A", true}, {u"B", true}, {u"C", false}});
  EXPECT_EQ(m_consumer->GetAllEventTypesSettings(actual), rc::NotInitialized);

  const Types user{{u"B", false}, {u"D", true}, {u"B", true}};
  ASSERT_EQ(m_consumer->SetUserDefinedEventTypes(false, user), rc::NoError);
  EXPECT_EQ(Actual(), (Types{{u"A", true}, {u"B", false}, {u"C", false}}));
  const auto unknown = m_tracer->LinesContaining("m_userDefinedEventTypes not in m_defaultEventsTypeSettings: D");
  EXPECT_TRUE(unknown.size() == 1 && unknown[0].level == 300);
  EXPECT_EQ(m_listeners->excluded, (std::vector<Excluded>{{u"B", u"C"}}));
  EXPECT_EQ(m_manager->changes, 1);

  m_consumer->SetUserDefinedEventTypes(false, user);
  m_consumer->SetAllEventTypesDefaultSettings({{u"C", false}, {u"A", true}, {u"B", true}});
  EXPECT_EQ(m_manager->changes, 1);
  EXPECT_EQ(m_listeners->excluded.size(), 1u);

  m_consumer->SetUserDefinedEventTypes(true, user);
  EXPECT_EQ(Actual(), (Types{{u"C", false}, {u"A", false}, {u"B", false}}));
  EXPECT_EQ(m_listeners->excluded.back(), (Excluded{u"A", u"B", u"C"}));
  EXPECT_EQ(m_manager->changes, 2);

  // A type the producer lists twice takes the user's choice in every copy.
  m_consumer->SetAllEventTypesDefaultSettings({{u"B", false}, {u"B", false}, {u"A", true}});
  m_consumer->SetUserDefinedEventTypes(false, {{u"B", true}});
  EXPECT_EQ(Actual(), (Types{{u"B", true}, {u"B", true}, {u"A", true}}));
  EXPECT_EQ(m_tracer->Count("m_userDefinedEventTypes not in m_defaultEventsTypeSettings: B"), 0u);
}

TEST_F(TaskConsumerTest, OnlyEnabledInclusiveRulesAreKeptAndAnUnchangedResultIsNotAnnounced) {
  EXPECT_EQ(
      TaskSiemTelemetryConsumer::FilterEnabledInclusiveRules(
          uR"({"other": {"x": 1}, "inclusiveRules": [{"id": 1, "enable": false}, {"id": 2},
                     {"id": 3, "enable": null}, {"id": 4, "enable": true}, {"id": 5, "enable": 0},
                     {"id": 6, "enable": "yes"}, 7, {"id": "ü"}]})"),
      uR"({"other":{"x":1},"inclusiveRules":[{"id":2},{"id":3,"enable":null},{"id":4,"enable":true},7,{"id":"ü"}]})");
  for (const std::u16string_view unchanged :
       {u"", u"null", u"{ }", uR"({"inclusiveRules": []})", uR"({"inclusiveRules": {"enable": false}})"}) {
    EXPECT_EQ(TaskSiemTelemetryConsumer::FilterEnabledInclusiveRules(unchanged), unchanged);
  }
  EXPECT_THROW(TaskSiemTelemetryConsumer::FilterEnabledInclusiveRules(u"[1]"), sendara::base::invalid_json_exception);

  const std::u16string rules = uR"({"inclusiveRules": [{"id": 1, "enable": false}, {"id": 2}]})";
  ASSERT_EQ(m_consumer->SetIncludeRules(rules), rc::NoError);
  ASSERT_EQ(m_consumer->SetIncludeRules(rules), rc::NoError);
  EXPECT_EQ(m_manager->changes, 1);
  EXPECT_EQ(m_consumer->SetIncludeRules(u"{"), rc::SyntaxError);
  std::u16string stored;
  m_consumer->GetIncludeRules(stored);
  EXPECT_EQ(stored, uR"({"inclusiveRules":[{"id":2}]})");
}

TEST_F(TaskConsumerTest, EventsGoToReportListenersAndAnyDeciderDropsThem) {
  bool dropped = true;
  EXPECT_EQ(m_consumer->ShouldEventBeDropped(1, u"A", &dropped), rc::NoError);
  EXPECT_FALSE(dropped);
  // Nobody to take the event: not reported as sent.
  EXPECT_EQ(m_consumer->SendEvent(u"{}"), rc::NotFound);

  const auto keeps = Listeners::Create(false), drops = Listeners::Create(true);
  m_consumer->Subscribe(static_cast<ISiemTelemetryDeciderEvent*>(keeps.Get()));
  m_consumer->Subscribe(static_cast<ISiemTelemetryDeciderEvent*>(drops.Get()));
  m_consumer->Subscribe(static_cast<ISiemTelemetryReportEvent*>(keeps.Get()));
  std::vector<Ioa> ioas{{"g", 1, true, false, false}};
  EXPECT_EQ(m_consumer->ShouldEventOrIoaBeDropped(1, u"A", u"{}", ioas, &dropped), rc::NoError);
  EXPECT_TRUE(dropped);
  EXPECT_FALSE(ioas[0].isMarkable);
  EXPECT_EQ(m_consumer->SendEvent(u"{\"e\":1}"), rc::NoError);
  EXPECT_EQ(keeps->reported, std::vector<std::u16string>{u"{\"e\":1}"});

  const auto broken = Listeners::Create(false, rc::AccessDenied);
  m_consumer->Subscribe(static_cast<ISiemTelemetryDeciderEvent*>(broken.Get()));
  dropped = false;
  EXPECT_EQ(m_consumer->ShouldEventBeDropped(1, u"A", &dropped), rc::AccessDenied);
  EXPECT_FALSE(dropped);

  m_locator->Unregister(ISiemTelemetryConsumersManager::kIid);
  EXPECT_THROW(TaskSiemTelemetryConsumer::Create(m_locator.Get(), 1), oru::CheckResultFailedException);
}

// Two threads meet at each call of ArriveAndWait. On a mutex: MinGW's
// std::barrier, on atomic waits without a futex, can miss a wake-up.
class MeetingPoint {
 public:
  void ArriveAndWait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const unsigned generation = m_generation;
    if (++m_arrived == 2) {
      m_arrived = 0;
      ++m_generation;
      m_met.notify_all();
      return;
    }
    m_met.wait(lock, [&] { return m_generation != generation; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_met;
  int m_arrived = 0;
  unsigned m_generation = 0;
};

TEST_F(TaskConsumerTest, TheLastExcludedListPassedOnIsTheCurrentOneWhateverTheOrderOfTwoThreads) {
  m_tracer->SetMaximumLevel(300);
  constexpr int kRounds = 10000;
  // Each round both threads set their list at once; the check runs between rounds.
  MeetingPoint round;
  std::thread producer([&] {
    for (int i = 0; i < kRounds; ++i) {
      round.ArriveAndWait();
      m_consumer->SetAllEventTypesDefaultSettings(i % 2 ? Types{{u"A", true}, {u"B", true}}
                                                        : Types{{u"A", false}, {u"B", true}, {u"C", true}});
      round.ArriveAndWait();
    }
  });
  int stale = 0;
  for (int i = 0; i < kRounds; ++i) {
    round.ArriveAndWait();
    m_consumer->SetUserDefinedEventTypes(i % 3 == 0, i % 4 < 2 ? Types{{u"A", true}} : Types{{u"B", false}});
    round.ArriveAndWait();
    Excluded current;
    for (const EventTypeSetting& setting : Actual()) {
      if (!setting.included) current.push_back(setting.event);
    }
    std::sort(current.begin(), current.end());
    if (m_listeners->excluded.empty() || m_listeners->excluded.back() != current) ++stale;
  }
  producer.join();
  EXPECT_EQ(stale, 0);
}

}  // namespace
