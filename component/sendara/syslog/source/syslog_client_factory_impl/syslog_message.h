#pragma once

#include <cstdint>
#include <string>

namespace sendara::syslog {

// A structured syslog message.
struct SyslogMessage {
  std::uint32_t facility = 0;
  std::uint32_t severity = 0;
  // File time (100-ns units since 1601-01-01 UTC); 0 for none.
  std::uint64_t timestamp = 0;
  std::string hostname;
  std::string appName;
  std::string procId;
  std::string msgId;
  std::string structuredData;
  std::string msg;

  // RFC 5424: "<PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID MSGID SD MSG" and a
  // line feed; empty header fields and a missing time are written "-".
  std::string ToRfc5424() const;
};

}  // namespace sendara::syslog
