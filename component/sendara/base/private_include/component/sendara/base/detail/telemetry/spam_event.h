#pragma once

#include <bitset>
#include <cstdint>
#include <map>

#include <boost/json/array.hpp>

namespace sendara::base::telemetry {

// How an event type that flooded the previous block is let through while
// throttled: `percent` of its occurrences pass, at the slots set in
// `probability` (slot = occurrence number modulo 100).
struct SpamEvent {
  std::uint8_t percent = 0;
  std::bitset<100> probability;
};

using SpamTable = std::map<std::uint32_t, SpamEvent>;

// The 100-slot pass pattern with min(p, 100) slots set, spread evenly: 50
// sets the even slots, 8 sets 12, 24, ..., 96.
std::bitset<100> pattern(unsigned p);

// "0x" and the id in 8 zero-padded hexadecimal digits.
std::string ThrottlerIdText(std::uint32_t id);

// [{"thottler_id", "percent", "probability"}], the pattern written slot 0
// first as 100 characters "0" or "1".
boost::json::array ToTraceJson(const SpamTable& table);

}  // namespace sendara::base::telemetry
