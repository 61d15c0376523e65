#pragma once

#include <string>
#include <vector>

#include "component/oru/result_code.h"
#include "component/sendara/syslog/source/syslog_connection/certificate_record.h"

namespace sendara::syslog {

// Decides about a server chain in place of the built-in rules.
class ICertificateVerificationHandler {
 public:
  virtual ~ICertificateVerificationHandler() = default;
  // Records leaf first; success accepts the chain.
  virtual oru::Result Validate(const std::string& expectedName, const std::vector<CertificateRecord>& records) = 0;
};

}  // namespace sendara::syslog
