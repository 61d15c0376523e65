#include "component/sendara/base/detail/telemetry/spam_event.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include <boost/json/object.hpp>

namespace sendara::base::telemetry {

std::bitset<100> pattern(unsigned p) {
  std::bitset<100> bits;
  bool target = true;
  unsigned remaining = std::min(p, 100u);
  // Each round spreads `remaining` changes evenly; an overshoot is taken
  // back by the next round with the opposite target. Every p from 0 to 100
  // ends with exactly p slots set.
  while (remaining > 0) {
    const unsigned step = 100 / remaining;
    unsigned placed = 0;
    unsigned i = 0;
    while (i < 100) {
      if (i % step == 0) {
        unsigned j = i;
        while (j < 100 && bits[j] == target) ++j;
        if (j < 100) {
          bits[j] = target;
          ++placed;
        }
        i = j + 1;
      } else {
        ++i;
      }
    }
    if (placed >= remaining) {
      remaining = placed - remaining;
      target = !target;
    } else {
      remaining -= placed;
    }
  }
  return bits;
}

std::string ThrottlerIdText(std::uint32_t id) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", id);
  return text;
}

boost::json::array ToTraceJson(const SpamTable& table) {
  boost::json::array out;
  out.reserve(table.size());
  for (const auto& [id, spam] : table) {
    std::string slots(100, '0');
    for (std::size_t i = 0; i < 100; ++i) {
      if (spam.probability[i]) slots[i] = '1';
    }
    out.emplace_back(boost::json::object{
        {"thottler_id", ThrottlerIdText(id)}, {"percent", spam.percent}, {"probability", std::move(slots)}});
  }
  return out;
}

}  // namespace sendara::base::telemetry
