#pragma once

#include "component/sendara/syslog/source/syslog_client_factory_impl/base_syslog_client.h"

namespace sendara::syslog {

class UdpSyslogClient final : public BaseSyslogClient {
 public:
  UdpSyslogClient(oru::RefPtr<oru::ITracer> tracer, SyslogClientSettings settings,
                  std::shared_ptr<ISuffixSource> suffixSource, base::SensitiveDataTracePolicy policy)
      : BaseSyslogClient(std::move(tracer), std::move(settings), std::move(suffixSource), std::move(policy)) {}

 private:
  std::shared_ptr<ISyslogConnection> CreateConnection(const SyslogServer& server,
                                                      const BaseConnection::Pool& pool) override;
};

}  // namespace sendara::syslog
