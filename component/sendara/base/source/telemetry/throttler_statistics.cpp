#include "component/sendara/base/detail/telemetry/throttler_statistics.h"

#include <boost/json/array.hpp>

#include "component/sendara/base/detail/telemetry/spam_event.h"

namespace sendara::base::telemetry {

boost::json::object ToTraceJson(const ThrottlerStatistics& statistics) {
  boost::json::array counts;
  counts.reserve(statistics.countByEvent.size());
  for (const auto& [id, count] : statistics.countByEvent) {
    counts.emplace_back(boost::json::object{{"thottler_id", ThrottlerIdText(id)}, {"count", count}});
  }
  return boost::json::object{{"countByEvent", std::move(counts)},
                             {"summaryCount", statistics.summaryCount},
                             {"start", statistics.start},
                             {"finish", statistics.finish}};
}

}  // namespace sendara::base::telemetry
