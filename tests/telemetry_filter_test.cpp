#include <memory>
#include <string>
#include <atomic>
#include <thread>
#include <vector>

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/exclusion_rules_converter.h"
#include "component/sendara/edr_telemetry/source/client/filtration/boost_json_event_fields.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_filter.h"
#include "host/tracer.h"

namespace {

using namespace sendara::edr_telemetry;
using sendara::base::ToUtf16;
using sendara::edr_telemetry::filtration::BoostJsonEventFields;

ExclusionRules RulesFrom(const std::string& document) {
  ExclusionRules rules;
  ConvertToExclusionRulesFromString(nullptr, ToUtf16(document), rules, nullptr);
  return rules;
}

std::string Rule(std::string_view name, std::string_view action, std::string_view expression) {
  return R"({"enable": true, "name": ")" + std::string(name) + R"(", "action": )" + std::string(action) +
         R"(, "filterExpression": )" + std::string(expression) + "}";
}

std::vector<Ioa> Ioas(std::initializer_list<std::pair<const char*, bool>> guidsAndMarks) {
  std::vector<Ioa> ioas;
  for (const auto& [guid, markable] : guidsAndMarks) {
    Ioa ioa;
    ioa.guid = guid;
    ioa.isMarkable = markable;
    ioa.isQdxStatExpected = true;
    ioa.isAlertable = true;
    ioas.push_back(ioa);
  }
  return ioas;
}

class TelemetryFilterTest : public ::testing::Test {
 protected:
  TelemetryFilterTest() {
    EdrTelemetryClientSettings settings;
    settings.endpoints.push_back({EdrTelemetryProtocol::TCP, "127.0.0.1:514"});
    m_provider = std::make_shared<EdrTelemetryClientSettingsProvider>(Tracer(), settings);
    m_filter = std::make_unique<TelemetryFilter>(Tracer(), m_provider);
  }
  oru::RefPtr<oru::ITracer> Tracer() { return oru::RefPtr<oru::ITracer>(m_tracer.Get()); }
  void Change(const std::function<void(EdrTelemetryClientSettings&)>& edit) {
    auto settings = m_provider->GetSettings();
    edit(settings);
    m_provider->SetSettings(std::move(settings));
  }

  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create();
  std::shared_ptr<EdrTelemetryClientSettingsProvider> m_provider;
  std::unique_ptr<TelemetryFilter> m_filter;
};

TEST_F(TelemetryFilterTest, EventTypesNeedTheExcludedListAndTheExcludedListWins) {
  EXPECT_THROW(m_filter->IsEventTypeFiltered(u"Process"), sendara::base::sendara_exception);
  try {
    m_filter->IsEventTypeFiltered(u"Process");
  } catch (const sendara::base::sendara_exception& e) {
    EXPECT_EQ(e.Code(), oru::rc::NotInitialized);
  }

  m_provider->SetExcludedEventTypes({u"Zeta", u"Both", u"Alpha"});
  EXPECT_FALSE(m_filter->IsEventTypeFiltered(u"Process"));
  EXPECT_TRUE(m_filter->IsEventTypeFiltered(u"Alpha"));
  EXPECT_TRUE(m_filter->IsEventTypeFiltered(u"Zeta"));
  EXPECT_FALSE(m_filter->IsEventTypeFiltered(u"alpha"));  // case-sensitive

  Change([](auto& s) { s.allowedEventTypes = std::vector<std::u16string>{u"Both", u"Process"}; });
  EXPECT_TRUE(m_filter->IsEventTypeFiltered(u"Both"));
  EXPECT_EQ(m_tracer->Count("Event 'Both' filtered by excluded event types"), 1u);
  EXPECT_FALSE(m_filter->IsEventTypeFiltered(u"Process"));
  EXPECT_TRUE(m_filter->IsEventTypeFiltered(u"Network"));
  EXPECT_EQ(m_tracer->Count("Event 'Network' sending is not allowed by agreement"), 1u);

  Change([](auto& s) { s.allowedEventTypes = std::vector<std::u16string>{}; });
  EXPECT_TRUE(m_filter->IsEventTypeFiltered(u"Process"));

  // Types beyond the basic plane compare by code unit.
  m_provider->SetExcludedEventTypes({u"\U0001F600", u"\uFFFF"});
  Change([](auto& s) { s.allowedEventTypes.reset(); });
  EXPECT_TRUE(m_filter->IsEventTypeFiltered(u"\U0001F600"));
  EXPECT_TRUE(m_filter->IsEventTypeFiltered(u"\uFFFF"));
  EXPECT_FALSE(m_filter->IsEventTypeFiltered(u"\uFFFE"));
}

TEST_F(TelemetryFilterTest, TagTestFollowsTheSwitch) {
  EXPECT_FALSE(m_filter->IsTagFiltered({}));
  Change([](auto& s) { s.telemetryTransferSettings.onlyTaggedEvents = true; });
  EXPECT_TRUE(m_filter->IsTagFiltered({}));
  EXPECT_TRUE(m_filter->IsTagFiltered(Ioas({{"a", false}})));
  EXPECT_FALSE(m_filter->IsTagFiltered(Ioas({{"a", false}, {"b", true}})));
}

TEST_F(TelemetryFilterTest, DropRulesSkipFailingRulesAndStopAtTheFirstMatch) {
  const auto rules = RulesFrom(
      R"({"rules": [)" +
      Rule("fails", R"({"actionType": "dropEvent"})", R"({"operator": "==", "operands": ["obj", 1]})") + "," +
      Rule("matches", R"({"actionType": "dropEvent"})", R"({"operator": "==", "operands": ["pid", 4]})") +
      "]}");
  m_filter->SetFilters(rules, false, std::vector<std::u16string>{}, std::nullopt);
  EXPECT_TRUE(m_filter->IsDropFiltered(BoostJsonEventFields(boost::json::parse(R"({"obj": {"a": 1}, "pid": 4})"))));
  EXPECT_EQ(m_tracer->Count("incorrect drop filter was skipped"), 1u);
  EXPECT_EQ(m_tracer->LinesContaining("incorrect drop filter was skipped")[0].level, 500);
  EXPECT_FALSE(m_filter->IsDropFiltered(BoostJsonEventFields(boost::json::parse(R"({"pid": 5})"))));
  EXPECT_EQ(m_tracer->Count("out: filtered = false"), 1u);
}

TEST_F(TelemetryFilterTest, RemoveAllRuleClearsEveryMarkAndEndsTheIoaTest) {
  const auto rules = RulesFrom(
      R"({"rules": [)" +
      Rule("all", R"({"actionType": "removeAllIoa"})", R"({"operator": "exists", "operands": ["x"]})") + "," +
      Rule("some", R"({"actionType": "removeIoa", "guids": ["g1"]})",
           R"({"operator": "exists", "operands": ["y"]})") +
      "]}");
  m_filter->SetFilters(rules, true, std::vector<std::u16string>{}, std::nullopt);

  auto ioas = Ioas({{"g1", true}, {"g2", true}});
  EXPECT_TRUE(m_filter->IsIoaFiltered(BoostJsonEventFields(boost::json::parse(R"({"x": 1, "y": 1})")), ioas));
  for (const auto& ioa : ioas) {
    EXPECT_FALSE(ioa.isMarkable);
    EXPECT_FALSE(ioa.isQdxStatExpected);
    EXPECT_TRUE(ioa.isAlertable);  // never changed
  }
  EXPECT_EQ(m_tracer->Count("filtered by all"), 1u);
  EXPECT_EQ(m_tracer->Count("filtered by some"), 0u);  // not looked at
  EXPECT_EQ(m_tracer->Count("Remove markable for g2"), 1u);
}

TEST_F(TelemetryFilterTest, RemoveRulesClearOnlyTheirExactLowerCaseGuids) {
  const auto rules = RulesFrom(
      R"({"rules": [)" +
      Rule("first", R"({"actionType": "removeIoa", "guids": ["ABC-1"]})",
           R"({"operator": "exists", "operands": ["x"]})") + "," +
      Rule("broken", R"({"actionType": "removeIoa", "guids": ["g3"]})",
           R"({"operator": "in", "operands": ["arr", 1]})") + "," +
      Rule("second", R"({"actionType": "removeIoa", "guids": ["g2"]})",
           R"({"operator": "exists", "operands": ["x"]})") +
      "]}");
  m_filter->SetFilters(rules, true, std::vector<std::u16string>{}, std::nullopt);

  auto ioas = Ioas({{"abc-1", true}, {"ABC-1", true}, {"g2", true}, {"g3", true}});
  EXPECT_FALSE(m_filter->IsIoaFiltered(BoostJsonEventFields(boost::json::parse(R"({"x": 1, "arr": [1]})")), ioas));
  EXPECT_FALSE(ioas[0].isMarkable);
  EXPECT_TRUE(ioas[1].isMarkable);  // upper-case guid never matches
  EXPECT_FALSE(ioas[2].isMarkable);
  EXPECT_TRUE(ioas[3].isMarkable);  // its rule failed on the event
  EXPECT_EQ(m_tracer->Count("incorrect ioa filter was skipped"), 1u);

  ioas = Ioas({{"abc-1", true}, {"g2", true}});
  EXPECT_TRUE(m_filter->IsIoaFiltered(BoostJsonEventFields(boost::json::parse(R"({"x": 1})")), ioas));
}

// Busy event threads must not keep a settings change out.
TEST_F(TelemetryFilterTest, SettingsChangesGetThroughWhileEventsAreFiltered) {
  m_tracer->SetMaximumLevel(300);
  const auto rules = RulesFrom(R"({"rules": [)" +
                               Rule("r", R"({"actionType": "dropEvent"})",
                                    R"({"operator": "like", "operands": ["img", "*x*y*z"]})") +
                               "]}");
  const auto event = boost::json::parse(R"({"img": "C:/Windows/System32/svchost.exe"})");
  std::atomic<bool> stop{false};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      while (!stop) m_filter->IsDropFiltered(BoostJsonEventFields(event));
    });
  }
  for (int i = 0; i < 50; ++i) {
    m_filter->SetFilters(rules, i % 2 == 0, std::vector<std::u16string>{u"T" + std::u16string(1, u'a' + i % 26)},
                         std::nullopt);
  }
  stop = true;
  for (auto& reader : readers) reader.join();
  EXPECT_TRUE(m_filter->IsEventTypeFiltered(u"Tx"));  // the last change (i = 49) is in force
}

TEST_F(TelemetryFilterTest, SetFiltersTracesOneLineAndFollowsSettings) {
  m_tracer->Clear();
  m_filter->SetFilters({}, true, std::vector<std::u16string>{u"b", u"a"}, std::nullopt);
  const auto lines = m_tracer->LinesContaining("] rules = ");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].text.find(
                R"(rules = {"dropRules":[],"removeAllIoaRules":[],"removeIoaRules":[]}; onlyTaggedEvents = yes; )"
                R"(excludedEventTypes = {"data":["a","b"]}; allowedEventTypes = {nullopt})"),
            std::string::npos)
      << lines[0].text;

  m_filter->SetFilters({}, false, std::nullopt, std::vector<std::u16string>{u"x"});
  EXPECT_NE(m_tracer->Lines().back().text.find(
                R"(excludedEventTypes = {"data":null}; allowedEventTypes = {"items":["x"]})"),
            std::string::npos);
  // An absent excluded list makes the filter uninitialised again.
  EXPECT_THROW(m_filter->IsEventTypeFiltered(u"x"), sendara::base::sendara_exception);
}

}  // namespace
