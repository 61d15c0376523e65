#include "component/sendara/edr_telemetry/source/client/request_sender/host_suffix_source.h"

#include <utility>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/sendara_exception.h"

namespace sendara::edr_telemetry {

HostSuffixSource::HostSuffixSource(oru::RefPtr<oru::ISyslogMessageSuffix> suffix) : m_suffix(std::move(suffix)) {
  SENDARA_CONTRACT(m_suffix, "syslog message suffix");
}

std::string HostSuffixSource::GetSuffix() {
  std::string suffix;
  SENDARA_CHECK_RESULT(m_suffix->GetSuffix(suffix), base::sendara_exception, "can't get syslog message suffix");
  return suffix;
}

}  // namespace sendara::edr_telemetry
