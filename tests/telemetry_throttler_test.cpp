#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <boost/signals2/signal.hpp>
#include <gtest/gtest.h>

#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/mul_div.h"
#include "component/sendara/base/detail/common/thread_safe_subscription.h"
#include "component/sendara/base/detail/telemetry/telemetry_throttler_v1.h"
#include "host/tracer.h"

namespace {

using namespace sendara::base::telemetry;

constexpr std::uint64_t kSecond = 10'000'000;
constexpr std::uint64_t kStart = 133'000'000'000'000'000;  // a file time in 2022
constexpr std::uint32_t kNoisy = 0xA1;

// Settings handed over by hand, as the client's settings provider would.
class ManualSettings : public IThrottlerSettingsSource {
 public:
  ThrottlerSettings settings;
  boost::signals2::signal<void(const ThrottlerSettings&)> changed;
  oru::RefPtr<oru::ITracer> tracer;

  ThrottlerSettings GetThrottlerSettings() const override { return settings; }
  std::shared_ptr<sendara::base::ISubscription> SubscribeAndApplyThrottlerSettings(
      std::string name, std::function<void(const ThrottlerSettings&)> callback) override {
    auto subscription = std::make_shared<sendara::base::ThreadSafeSubscription<void(const ThrottlerSettings&)>>(
        tracer, changed, std::move(name), callback);
    callback(settings);
    return subscription;
  }
};

std::vector<unsigned> SetSlots(const std::bitset<100>& bits) {
  std::vector<unsigned> slots;
  for (unsigned i = 0; i < 100; ++i) {
    if (bits[i]) slots.push_back(i);
  }
  return slots;
}

// The shares and pass rates of a block, for counts and durations of any size.
TEST(ThrottlerPattern, MulDivIsExactWhereTheProductPassesSixtyFourBits) {
  using sendara::base::MulDivClamped;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  EXPECT_EQ(MulDivClamped(3, 100, 7, 100), 42u);
  EXPECT_EQ(MulDivClamped(kMax, 100, kMax, 100), 100u);
  EXPECT_EQ(MulDivClamped(kMax - 1, 100, kMax, 100), 99u);
  EXPECT_EQ(MulDivClamped(kMax, kMax, kMax, kMax), kMax);
  EXPECT_EQ(MulDivClamped(kMax, kMax - 1, kMax, kMax), kMax - 1);
  EXPECT_EQ(MulDivClamped(1ull << 40, 1ull << 40, 1ull << 30, kMax), 1ull << 50);
  EXPECT_EQ(MulDivClamped(kMax, 2, 1, 100), 100u);
#if defined(__SIZEOF_INT128__)
  std::mt19937_64 random(7);
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t a = random() >> (random() % 64);
    const std::uint64_t b = random() >> (random() % 64);
    const std::uint64_t c = (random() >> (random() % 64)) | 1u;
    const std::uint64_t limit = random() % 2 ? 100 : kMax;
    const unsigned __int128 exact = static_cast<unsigned __int128>(a) * b / c;
    const std::uint64_t expected = exact > limit ? limit : static_cast<std::uint64_t>(exact);
    ASSERT_EQ(MulDivClamped(a, b, c, limit), expected) << a << " * " << b << " / " << c;
  }
#endif
}

TEST(ThrottlerPattern, SpreadsExactlyPSlots) {
  for (unsigned p = 0; p <= 100; ++p) EXPECT_EQ(pattern(p).count(), p) << "p = " << p;
  EXPECT_EQ(pattern(150).count(), 100u);
  EXPECT_EQ(SetSlots(pattern(8)), (std::vector<unsigned>{12, 24, 36, 48, 60, 72, 84, 96}));
  const auto half = SetSlots(pattern(50));
  ASSERT_EQ(half.size(), 50u);
  for (std::size_t i = 0; i < half.size(); ++i) EXPECT_EQ(half[i], 2 * i);
}

class ThrottlerTest : public ::testing::Test {
 protected:
  void Make() {
    m_source->tracer = oru::RefPtr<oru::ITracer>(m_tracer.Get());
    m_throttler = std::make_unique<TelemetryThrottlerV1>(oru::RefPtr<oru::ITracer>(m_tracer.Get()), m_source,
                                                         [this] { return m_now; });
  }
  // One block of 300 events over `seconds`: `noisy` events of kNoisy, the
  // rest spread over ten quiet types.
  void FillBlock(std::uint64_t seconds, int noisy) {
    for (int i = 0; i < 300; ++i) {
      m_now = i == 299 ? m_blockStart + seconds * kSecond : m_blockStart;
      m_throttler->IsThrottled(i < noisy ? kNoisy : 0x10 + i % 10, true);
    }
    m_blockStart = m_now + kSecond;
    m_now = m_blockStart;
  }

  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(700);
  std::shared_ptr<ManualSettings> m_source = std::make_shared<ManualSettings>();
  std::uint64_t m_blockStart = kStart;
  std::uint64_t m_now = kStart;
  std::unique_ptr<TelemetryThrottlerV1> m_throttler;
};

TEST_F(ThrottlerTest, FastBlockThrottlesItsSpamTypeByThePattern) {
  Make();
  EXPECT_EQ(m_tracer->Count("; expected min duration for block = 360; spam events = []"), 1u);
  FillBlock(60, 150);  // 50 % in a sixth of the expected time

  std::vector<unsigned> passed;
  for (unsigned occurrence = 1; occurrence <= 100; ++occurrence) {
    EXPECT_FALSE(m_throttler->IsThrottled(0x77, false));  // never dropped, only counted
    if (!m_throttler->IsThrottled(kNoisy, true)) passed.push_back(occurrence - 1);
    EXPECT_FALSE(m_throttler->IsThrottled(0x10, true));  // a quiet type
  }
  EXPECT_EQ(passed, (std::vector<unsigned>{12, 24, 36, 48, 60, 72, 84, 96}));
  EXPECT_EQ(m_tracer->Count("throttled mode = on; actual duration for block = 60; expected min duration for "
                            "block = 360; spam events = [{\"thottler_id\":\"0x000000A1\",\"percent\":8,"),
            1u);
  EXPECT_FALSE(m_throttler->IsEventBlocked(kNoisy));

  // The block just filled (300 events) took no time at all: its spam type is
  // now blocked outright, and a slow block after it ends throttling.
  EXPECT_TRUE(m_throttler->IsThrottled(kNoisy, true));
  EXPECT_TRUE(m_throttler->IsEventBlocked(kNoisy));
  FillBlock(400, 0);
  EXPECT_FALSE(m_throttler->IsThrottled(kNoisy, true));
  EXPECT_FALSE(m_throttler->IsEventBlocked(kNoisy));
}

TEST_F(ThrottlerTest, WithoutLimitsNothingIsCountedOrDropped) {
  m_source->settings.useRequestCountLimits = false;
  m_source->settings.maximumNumberOfEventsInHour = 0;  // accepted: limits are off
  Make();
  for (int i = 0; i < 1000; ++i) EXPECT_FALSE(m_throttler->IsThrottled(kNoisy, true));
  EXPECT_FALSE(m_throttler->GetPrevStatistics().has_value());
}

TEST_F(ThrottlerTest, SettingsThatCannotBeAppliedAreRefusedAndTheOldOnesStay) {
  Make();
  for (const auto& [rate, block] : std::vector<std::pair<int, int>>{{0, 300}, {3000, 0}, {-1, 300}, {3000, -5}}) {
    ThrottlerSettings bad;
    bad.maximumNumberOfEventsInHour = rate;
    bad.numberOfEventsInBlock = block;
    EXPECT_THROW(m_throttler->SetSettings(bad), sendara::base::contract_exception);
  }
  FillBlock(60, 150);
  EXPECT_TRUE(m_throttler->IsThrottled(kNoisy, true));  // slot 0 of pattern(8) is clear

  m_source->settings.maximumNumberOfEventsInHour = 0;
  m_source->changed(m_source->settings);  // refused inside the subscription, traced
  EXPECT_EQ(m_tracer->Count("invalid settings, duration block equal zero"), 1u);
}

// A settings change while throttled recomputes the mode: a rate so high that
// the expected duration is 0 s, or one under which the last block was slow,
// ends throttling (and must not divide by zero or wrap the pass share).
TEST_F(ThrottlerTest, SettingsChangeWhileThrottledRecomputesTheMode) {
  Make();
  FillBlock(60, 150);
  EXPECT_TRUE(m_throttler->IsThrottled(kNoisy, true));

  ThrottlerSettings settings = m_source->settings;
  settings.maximumNumberOfEventsInHour = 2'000'000;  // 300 × 3600 / 2e6 = 0 s
  m_throttler->SetSettings(settings);
  EXPECT_FALSE(m_throttler->IsThrottled(kNoisy, true));

  settings.maximumNumberOfEventsInHour = 3000;
  m_throttler->SetSettings(settings);
  EXPECT_TRUE(m_throttler->IsThrottled(kNoisy, true));
  settings.maximumNumberOfEventsInHour = 36000;  // expects 30 s: the 60 s block was slow
  m_throttler->SetSettings(settings);
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(m_throttler->IsThrottled(kNoisy, true));
}

TEST_F(ThrottlerTest, SmallerBlockSizeStillClosesTheOpenBlock) {
  Make();
  for (int i = 0; i < 200; ++i) m_throttler->IsThrottled(kNoisy, true);
  ThrottlerSettings settings = m_source->settings;
  settings.numberOfEventsInBlock = 100;
  m_throttler->SetSettings(settings);
  m_throttler->IsThrottled(kNoisy, true);
  const auto previous = m_throttler->GetPrevStatistics();
  ASSERT_TRUE(previous.has_value());
  EXPECT_EQ(previous->summaryCount, 201u);
}

TEST_F(ThrottlerTest, PreviousStatisticsFromOutsideAndTheirTraceForm) {
  Make();
  ThrottlerStatistics statistics;
  statistics.countByEvent = {{kNoisy, 300}};
  statistics.summaryCount = 300;
  statistics.start = kStart;
  statistics.finish = kStart + 10 * kSecond;
  m_throttler->SetPrevStatistics(statistics);
  EXPECT_EQ(m_tracer->Count("statistics = {\"countByEvent\":[{\"thottler_id\":\"0x000000A1\",\"count\":300}],"
                            "\"summaryCount\":300,\"start\":133000000000000000,\"finish\":133000000100000000}"),
            1u);
  // The next event opens a block that is throttled by them: 100 % spam passes 0 %.
  EXPECT_TRUE(m_throttler->IsThrottled(kNoisy, true));
  EXPECT_TRUE(m_throttler->IsEventBlocked(kNoisy));

  // Statistics that make no sense throttle nothing and break nothing.
  statistics.summaryCount = 0;
  m_throttler->SetPrevStatistics(statistics);
  FillBlock(1, 0);
  ThrottlerStatistics backwards = statistics;
  backwards.summaryCount = 300;
  backwards.finish = kStart - kSecond;
  m_throttler->SetPrevStatistics(backwards);
  m_throttler->SetSettings(m_source->settings);
  EXPECT_FALSE(m_throttler->IsThrottled(kNoisy, true));
}

}  // namespace
