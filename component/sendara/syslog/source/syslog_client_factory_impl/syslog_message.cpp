#include "component/sendara/syslog/source/syslog_client_factory_impl/syslog_message.h"

#include <cstdint>
#include <cstdio>

namespace sendara::syslog {
namespace {

constexpr std::int64_t kDaysFrom1601To1970 = 134'774;
constexpr std::uint64_t kMillisecondsPerDay = 86'400'000;

// The civil date of a day counted from 1970-01-01, proleptic Gregorian, for
// any day a file time can name (std::chrono's year stops at 32767).
void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
  days += 719'468;  // from 0000-03-01, so that leap days end the year
  const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146'097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

std::string Timestamp(std::uint64_t fileTime) {
  if (fileTime == 0) return "-";
  const std::uint64_t milliseconds = fileTime / 10'000;
  const auto days = static_cast<std::int64_t>(milliseconds / kMillisecondsPerDay) - kDaysFrom1601To1970;
  const std::uint64_t ofDay = milliseconds % kMillisecondsPerDay;
  std::int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  // The timestamp has four digits for the year: a later time has no
  // spelling, and the field allows none.
  if (year > 9999) return "-";
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02u:%02u:%02u.%03uZ", static_cast<int>(year), month, day,
                static_cast<unsigned>(ofDay / 3'600'000), static_cast<unsigned>(ofDay / 60'000 % 60),
                static_cast<unsigned>(ofDay / 1000 % 60), static_cast<unsigned>(ofDay % 1000));
  return text;
}

const std::string& OrDash(const std::string& field) {
  static const std::string kDash = "-";
  return field.empty() ? kDash : field;
}

}  // namespace

std::string SyslogMessage::ToRfc5424() const {
  std::string text = "<" + std::to_string(static_cast<std::uint64_t>(facility) * 8 + severity) + ">1 ";
  text += Timestamp(timestamp);
  for (const std::string* field : {&hostname, &appName, &procId, &msgId, &structuredData}) {
    text += ' ';
    text += OrDash(*field);
  }
  text += ' ';
  text += msg;
  text += '\n';
  return text;
}

}  // namespace sendara::syslog
