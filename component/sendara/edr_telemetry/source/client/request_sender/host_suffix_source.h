#pragma once

#include <string>

#include "component/oru/i_syslog_message_suffix.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/i_suffix_source.h"

namespace sendara::edr_telemetry {

// The host's syslog message suffix as the syslog clients ask for it.
class HostSuffixSource final : public syslog::ISuffixSource {
 public:
  explicit HostSuffixSource(oru::RefPtr<oru::ISyslogMessageSuffix> suffix);

  // Raises sendara_exception when the host fails to answer: a message sent
  // without the host's mark would be a message the host did not want.
  std::string GetSuffix() override;

 private:
  const oru::RefPtr<oru::ISyslogMessageSuffix> m_suffix;
};

}  // namespace sendara::edr_telemetry
