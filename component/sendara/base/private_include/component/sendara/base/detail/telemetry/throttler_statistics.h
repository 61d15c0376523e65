#pragma once

#include <cstdint>
#include <map>

#include <boost/json/object.hpp>

namespace sendara::base::telemetry {

// Counts of one block of events. Times are file times: 100-ns units since
// 1601-01-01 UTC.
struct ThrottlerStatistics {
  static constexpr std::uint64_t kOpen = ~std::uint64_t{0};

  // Only events that may be throttled, by event type id.
  std::map<std::uint32_t, std::uint64_t> countByEvent;
  // Every event of the block.
  std::uint64_t summaryCount = 0;
  std::uint64_t start = 0;
  // kOpen while the block is filling.
  std::uint64_t finish = kOpen;
};

// {"countByEvent": [{"thottler_id": "0x0000ABCD", "count": n}], "summaryCount",
// "start", "finish"}.
boost::json::object ToTraceJson(const ThrottlerStatistics& statistics);

}  // namespace sendara::base::telemetry
