#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/base/detail/serializers/from_string.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_handler_impl.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_queue_impl.h"
#include "host/sensitive_data_policy.h"
#include "host/tracer.h"

namespace {

using namespace sendara::edr_telemetry;
using namespace sendara::edr_telemetry::telemetry;
using sendara::base::SensitiveDataTracePolicy;
using sendara::base::ToUtf16;

std::vector<std::uint64_t> Ids(const ITelemetryQueue::Records& records) {
  std::vector<std::uint64_t> ids;
  for (const auto& record : records) ids.push_back(record.Id());
  return ids;
}

// What the bound drops, and what the queue still holds when it goes, is
// counted lost.
TEST(TelemetryQueue, SettlesAtLimitPlusOneDroppingTheOldestAndCountsWhatItLoses) {
  const auto tracer = reference_host::Tracer::Create(500);
  const auto counters = std::make_shared<DeliveryCounters>();
  {
    TelemetryQueueImpl queue(oru::RefPtr<oru::ITracer>(tracer.Get()), 200000, {}, counters);
    for (int i = 0; i < 200002; ++i) queue.PushBack(u"{}");
    const auto records = queue.PopFront(0);
    ASSERT_EQ(records.size(), 200001u);
    EXPECT_EQ(records.front().Id(), 2u);
    EXPECT_EQ(records.back().Id(), 200002u);
    queue.PushBack(u"{}");
    queue.PushBack(u"{}");
  }
  const auto limit = tracer->LinesContaining("queue limit reached, remove events from front: diff = 1; 200001:200000");
  ASSERT_EQ(limit.size(), 1u);
  EXPECT_EQ(limit[0].level, 500);
  EXPECT_EQ(counters->lostToQueueLimit, 1u);
  EXPECT_EQ(counters->lostUnspooled, 2u);
  EXPECT_EQ(tracer->LinesContaining("2 events lost: still queued when the client ended").size(), 1u);
}

TEST(TelemetryQueue, PutBackRecordsKeepTheirIdsAndComeOutFirst) {
  TelemetryQueueImpl queue(nullptr, 100, {});
  EXPECT_TRUE(queue.PopFront(0).empty());
  for (int i = 0; i < 5; ++i) queue.PushBack(u"{\"n\":" + ToUtf16(std::to_string(i)) + u"}");
  auto taken = queue.PopFront(3);
  EXPECT_EQ(Ids(taken), (std::vector<std::uint64_t>{1, 2, 3}));
  EXPECT_EQ(taken[1].Text(), "{\"n\":1}");
  queue.PushBack(u"{}");  // id 6
  // The sender handed over the first one; the other two go back.
  queue.PushFront(taken.begin() + 1, taken.end());
  EXPECT_EQ(Ids(queue.PopFront(2)), (std::vector<std::uint64_t>{2, 3}));
  const TelemetryEventRecord again[] = {{9, "x"}};
  queue.PushFront(std::begin(again), std::end(again));
  EXPECT_EQ(Ids(queue.PopFront(10)), (std::vector<std::uint64_t>{9, 4, 5, 6}));
  queue.PushBack(u"{}");
  // A whole batch goes back ahead of what came meanwhile.
  auto batch = queue.PopFront(0);
  queue.PushBack(u"{}");
  queue.PushFront(std::move(batch));
  EXPECT_EQ(Ids(queue.PopFront(0)), (std::vector<std::uint64_t>{7, 8}));
}

// Texts share blocks; a record keeps its text whatever happens to the queue
// and the other records, and a text larger than a block gets one of its own.
TEST(TelemetryQueue, TextsLiveAsLongAsTheirRecordsAcrossBlocks) {
  auto queue = std::make_unique<TelemetryQueueImpl>(nullptr, 100000, SensitiveDataTracePolicy());
  const auto text = [](int i) { return std::to_string(i) + std::string(600 + i % 97, static_cast<char>('a' + i % 26)); };
  const std::string huge(3 << 20, 'h');
  for (int i = 0; i < 4000; ++i) {
    if (i == 2000) queue->PushBackUtf8(huge);
    queue->PushBackUtf8(text(i));
  }
  auto first = queue->PopFront(1500);
  const TelemetryEventRecord copy = first[7];
  first.clear();
  auto rest = queue->PopFront(0);
  queue.reset();
  EXPECT_EQ(copy.Text(), text(7));
  ASSERT_EQ(rest.size(), 2501u);
  for (int i = 1500, k = 0; i < 4000; ++i, ++k) {
    if (i == 2000) {
      EXPECT_TRUE(rest[k++].Text() == huge);
    }
    ASSERT_EQ(rest[k].Text(), text(i)) << i;
  }
  EXPECT_EQ(TelemetryEventRecord(9, "own").Text(), "own");
}

TEST(TelemetryQueue, EventTextsAreTracedOnlyWhenThePolicyAllows) {
  const auto tracer = reference_host::Tracer::Create(800);
  const auto policy = reference_host::SensitiveDataPolicy::Create(false);
  TelemetryQueueImpl queue(oru::RefPtr<oru::ITracer>(tracer.Get()), 10,
                           SensitiveDataTracePolicy(oru::RefPtr<oru::ISensitiveDataPolicy>(policy.Get())));
  queue.PushBack(u"{\"secret\":1}");
  policy->SetAllowed(true);
  queue.PushBack(u"{\"visible\":1}");
  EXPECT_EQ(tracer->Count("size queue = 0; event id = 1; data = <sensitive data was hidden>"), 1u);
  EXPECT_EQ(tracer->Count("size queue = 1; event id = 2; data = {\"visible\":1}"), 1u);
  EXPECT_EQ(tracer->Count("secret"), 0u);
}

class TelemetryHandlerTest : public ::testing::Test {
 protected:
  TelemetryHandlerTest() {
    EdrTelemetryClientSettings settings;
    settings.endpoints.push_back({EdrTelemetryProtocol::TCP, "127.0.0.1:514"});
    settings.telemetryTransferSettings.maximumNumberOfEventsInPackage = 3;
    m_provider = std::make_shared<EdrTelemetryClientSettingsProvider>(Tracer(), settings);
    m_handler = std::make_unique<TelemetryHandlerImpl>(Tracer(), SensitiveDataTracePolicy(), m_queue, m_provider);
    m_subscription = m_handler->Subscribe("test", [this] { ++m_packages; });
  }
  oru::RefPtr<oru::ITracer> Tracer() { return oru::RefPtr<oru::ITracer>(m_tracer.Get()); }
  void AllowFields(std::optional<std::vector<std::string>> fields, int packageSize = 3) {
    auto settings = m_provider->GetSettings();
    settings.allowedEventFields = std::move(fields);
    settings.telemetryTransferSettings.maximumNumberOfEventsInPackage = packageSize;
    m_provider->SetSettings(settings);
  }
  std::vector<std::string> Texts() {
    std::vector<std::string> texts;
    for (auto& record : m_queue->PopFront(0)) texts.emplace_back(record.Text());
    return texts;
  }

  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(800);
  std::shared_ptr<TelemetryQueueImpl> m_queue = std::make_shared<TelemetryQueueImpl>(nullptr, 200000, SensitiveDataTracePolicy());
  std::shared_ptr<EdrTelemetryClientSettingsProvider> m_provider;
  std::unique_ptr<TelemetryHandlerImpl> m_handler;
  std::atomic<int> m_packages{0};
  std::shared_ptr<sendara::base::ISubscription> m_subscription;
};

TEST_F(TelemetryHandlerTest, WithoutAllowedFieldsEventsAreQueuedUnparsed) {
  m_handler->SendTelemetry(u"{ \"eventType\" : \"A\" }");
  m_handler->SendTelemetry(u"not json at all");
  m_handler->SendTelemetry(u"{\"bad\":\"\xD800x\"}");  // a lone surrogate
  EXPECT_EQ(Texts(), (std::vector<std::string>{"{ \"eventType\" : \"A\" }", "not json at all",
                                               "{\"bad\":\"\xEF\xBF\xBDx\"}"}));
  EXPECT_EQ(m_packages, 1);
}

TEST_F(TelemetryHandlerTest, DisallowedTopLevelMembersAreStripped) {
  AllowFields(std::vector<std::string>{"eventType", "process", "ioas"});
  // All allowed: queued byte for byte, white space and all.
  m_handler->SendTelemetry(u"{ \"eventType\": \"A\",  \"ioas\": [] }");
  // Stripped: compact, in order, nested members untouched, UTF-8 as it is.
  m_handler->SendTelemetry(
      u"{\"user\": \"x\", \"eventType\": \"\u00C9v\u00E9nement\", \"process\": {\"user\": 1, \"cmd\": \"a b\"}, "
      u"\"host\": {\"name\": \"h\"}}");
  m_handler->SendTelemetry(u"null");
  EXPECT_EQ(Texts(), (std::vector<std::string>{
                         "{ \"eventType\": \"A\",  \"ioas\": [] }",
                         "{\"eventType\":\"\xC3\x89v\xC3\xA9nement\",\"process\":{\"user\":1,\"cmd\":\"a b\"}}",
                         "null"}));
  EXPECT_EQ(m_packages, 1);

  AllowFields(std::nullopt);
  m_handler->SendTelemetry(u"{\"user\": \"x\"}");
  EXPECT_EQ(Texts(), (std::vector<std::string>{"{\"user\": \"x\"}"}));
}

TEST_F(TelemetryHandlerTest, StrippedEventIsCompactWithValuesAsWritten) {
  AllowFields(std::vector<std::string>{"n", "str", "f", "nested"});
  std::string deep;
  for (int i = 0; i < 100; ++i) deep += "{\"d\":";
  deep += "1";
  for (int i = 0; i < 100; ++i) deep += "}";
  const std::string event = R"({
  "drop": [1, {"n": 2.5}],
  "n" : [ 1.5, 1.0, -0, -0.0, 1e400, 123456789012345678901234567890, 18446744073709551615, 0.1E-2 ],
  "s\u0074r": "q\"b\\s\/\u00e9\u0001\n\t\u001F",
  "f": "C:\\a\ud800b",
  "mid": "x",
  "nested": {"k\"ey": [true, false, null, {}, []], "deep": )" + deep + R"(},
  "last": 1
})";
  m_handler->SendTelemetry(ToUtf16(event));
  const auto texts = Texts();
  ASSERT_EQ(texts.size(), 1u);
  // Names and strings keep their escapes, the lone surrogate's too.
  EXPECT_EQ(texts[0], R"({"n":[1.5,1.0,-0,-0.0,1e400,123456789012345678901234567890,18446744073709551615,0.1E-2],)"
                      R"("s\u0074r":"q\"b\\s\/\u00e9\u0001\n\t\u001F","f":"C:\\a\ud800b",)"
                      R"("nested":{"k\"ey":[true,false,null,{},[]],"deep":)" + deep + "}}");
  boost::json::value expected = sendara::base::from_string(event);
  for (const char* dropped : {"drop", "mid", "last"}) expected.as_object().erase(dropped);
  EXPECT_EQ(sendara::base::from_string(texts[0]), expected);
}

TEST_F(TelemetryHandlerTest, RefusedEventsFailAsFromStringDoes) {
  AllowFields(std::vector<std::string>{"a"});
  const auto refusal = [](auto&& read) -> std::string {
    try {
      read();
    } catch (const sendara::base::invalid_json_exception& e) {
      const auto* description = e.FindProperty("description_error");
      return e.Message() + (description ? ": " + std::get<std::string>(*description) : "");
    }
    return "accepted";
  };
  std::string tooDeep = "{\"a\":";
  for (int i = 0; i < 600; ++i) tooDeep += "[";
  for (const std::string text : {"[1, 2]", "\"a\"", "{\"a\": ", "{\"a\":1} x", "{\"a\":1,}", "{\"a\":\"\x01\"}",
                                 "{\"a\":1e99999999999}"}) {
    SCOPED_TRACE(text);
    const std::string expected = refusal([&] { sendara::base::from_string(text); });
    EXPECT_NE(expected, "accepted");
    EXPECT_EQ(refusal([&] { m_handler->SendTelemetry(ToUtf16(text)); }), expected);
  }
  EXPECT_EQ(refusal([&] { m_handler->SendTelemetry(ToUtf16(tooDeep)); }),
            refusal([&] { sendara::base::from_string(tooDeep); }));
  EXPECT_TRUE(Texts().empty());
}

TEST_F(TelemetryHandlerTest, EventWithNoAllowedMemberIsDroppedAndNotCounted) {
  AllowFields(std::vector<std::string>{}, 1);
  m_handler->SendTelemetry(u"{\"eventType\": \"A\"}");
  EXPECT_TRUE(Texts().empty());
  EXPECT_EQ(m_packages, 0);
  EXPECT_EQ(m_tracer->Count("All event fields removed. Event not sent: <sensitive data was hidden>"), 1u);
  m_handler->SendTelemetry(u"{}");  // nothing to remove: queued and counted
  EXPECT_EQ(m_packages, 1);
}

TEST_F(TelemetryHandlerTest, QueueFullSignalEveryPackageOfEvents) {
  std::vector<int> signalledAt;
  int sent = 0;
  const auto probe = m_handler->Subscribe("probe", [&] { signalledAt.push_back(sent); });
  for (sent = 1; sent <= 7; ++sent) m_handler->SendTelemetry(u"{}");
  EXPECT_EQ(signalledAt, (std::vector<int>{3, 6}));
  EXPECT_EQ(m_tracer->Count("queue full, triggered telemetry processing"), 2u);

  AllowFields(std::nullopt, 1);
  signalledAt.clear();
  for (sent = 1; sent <= 2; ++sent) m_handler->SendTelemetry(u"{}");
  EXPECT_EQ(signalledAt, (std::vector<int>{1, 2}));
}

TEST_F(TelemetryHandlerTest, ConcurrentEventsAreAllQueuedWithUniqueIds) {
  m_tracer->SetMaximumLevel(300);
  AllowFields(std::vector<std::string>{"id"}, 100);
  constexpr int kThreads = 4;
  constexpr int kEach = 2500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < kEach; ++i) {
        m_handler->SendTelemetry(ToUtf16("{\"id\":\"" + std::to_string(t) + "-" + std::to_string(i) +
                                         "\",\"drop\":1}"));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const auto records = m_queue->PopFront(0);
  ASSERT_EQ(records.size(), static_cast<std::size_t>(kThreads * kEach));
  std::set<std::uint64_t> ids;
  std::set<std::string> texts;
  for (const auto& record : records) {
    ids.insert(record.Id());
    texts.emplace(record.Text());
  }
  EXPECT_EQ(ids.size(), records.size());
  EXPECT_EQ(texts.size(), records.size());
  EXPECT_EQ(*ids.rbegin(), static_cast<std::uint64_t>(kThreads * kEach));
  EXPECT_EQ(m_packages, kThreads * kEach / 100);
}

TEST(Utf16ToUtf8, PairsCombineAndLoneSurrogatesBecomeReplacements) {
  using sendara::base::ToUtf8;
  EXPECT_EQ(ToUtf8(u"a\U0001F600b"), "a\xF0\x9F\x98\x80" "b");
  EXPECT_EQ(ToUtf8(std::u16string{u'a', 0xD83D}), "a\xEF\xBF\xBD");              // before the end
  EXPECT_EQ(ToUtf8(std::u16string{0xD83D, u'x'}), "\xEF\xBF\xBDx");              // high, then no low
  EXPECT_EQ(ToUtf8(std::u16string{0xDE00, 0xD83D}), "\xEF\xBF\xBD\xEF\xBF\xBD");  // reversed pair
  EXPECT_EQ(ToUtf8(u"\u00E9\u20AC"), "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(sendara::base::ToUtf16("\xF0\x9F\x98\x80\xC3"), (std::u16string{0xD83D, 0xDE00, 0xFFFD}));
  EXPECT_EQ(sendara::base::ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // an encoded surrogate
}

// Texts are walked a block at a time: a unit that is not ASCII, or the
// terminator, must count wherever it falls within or after a block.
TEST(Utf16ToUtf8, BlocksGiveWayToTheUnitThatEndsThemWhereverItFalls) {
  for (std::size_t length = 0; length < 48; ++length) {
    const std::string ascii(length, 'a');
    const std::string converted = sendara::base::ToUtf8(std::u16string(length, u'a') + u"\u00E9");
    EXPECT_EQ(converted, ascii + "\xC3\xA9");
    // Queued for long: no room beyond the text (the short-string buffer aside).
    EXPECT_LE(converted.capacity(), std::max<std::size_t>(converted.size(), 15));
    EXPECT_EQ(sendara::base::ToUtf16(ascii + "\xC3\xA9" + ascii), std::u16string(length, u'a') + u"\u00E9" +
                                                                      std::u16string(length, u'a'));
    // At every offset from an aligned block, so that the text starts and
    // ends anywhere within one.
    alignas(16) char16_t buffer[80];
    for (std::size_t offset = 0; offset < 8; ++offset) {
      std::fill(std::begin(buffer), std::end(buffer), u'x');
      buffer[offset + length] = 0;
      EXPECT_EQ(sendara::base::Utf16Length(buffer + offset), length) << offset;
    }
  }
}

}  // namespace
