#pragma once

#include <string>

namespace sendara::syslog {

// Text appended to every message a client sends.
class ISuffixSource {
 public:
  virtual ~ISuffixSource() = default;
  virtual std::string GetSuffix() = 0;
};

}  // namespace sendara::syslog
