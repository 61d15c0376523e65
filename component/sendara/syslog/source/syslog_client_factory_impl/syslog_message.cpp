#include "component/sendara/syslog/source/syslog_client_factory_impl/syslog_message.h"

#include <chrono>
#include <cstdio>

namespace sendara::syslog {
namespace {

constexpr std::uint64_t kUnixEpochAsFileTime = 116'444'736'000'000'000;

std::string Timestamp(std::uint64_t fileTime) {
  if (fileTime == 0) return "-";
  // Before 1970 the clock arithmetic below would go negative: clamp.
  const std::uint64_t sinceUnixEpoch = fileTime > kUnixEpochAsFileTime ? fileTime - kUnixEpochAsFileTime : 0;
  const std::chrono::sys_time<std::chrono::milliseconds> time{std::chrono::milliseconds(sinceUnixEpoch / 10'000)};
  const auto day = std::chrono::floor<std::chrono::days>(time);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss clock{time - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ld.%03ldZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<long>(clock.hours().count()), static_cast<long>(clock.minutes().count()),
                static_cast<long>(clock.seconds().count()), static_cast<long>(clock.subseconds().count()));
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
