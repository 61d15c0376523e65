#pragma once

#include "component/sendara/syslog/source/syslog_client_factory_impl/base_syslog_client.h"

namespace sendara::syslog {

// The client of a protocol whose connections need nothing beyond the
// settings: TCP and UDP.
template <class Connection>
class PlainSyslogClient final : public BaseSyslogClient {
 public:
  PlainSyslogClient(oru::RefPtr<oru::ITracer> tracer, SyslogClientSettings settings,
                    std::shared_ptr<ISuffixSource> suffixSource, base::SensitiveDataTracePolicy policy)
      : BaseSyslogClient(std::move(tracer), std::move(settings), std::move(suffixSource), std::move(policy)) {}

 private:
  std::shared_ptr<ISyslogConnection> CreateConnection(const SyslogServer& server,
                                                      const BaseConnection::Pool& pool) override {
    return Connection::Create(m_tracer, pool, server, m_settings);
  }
};

}  // namespace sendara::syslog
