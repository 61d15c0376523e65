#include "component/sendara/syslog/source/syslog_client_factory_impl/udp_syslog_client.h"

#include "component/sendara/syslog/source/syslog_connection/udp_connection.h"

namespace sendara::syslog {

std::shared_ptr<ISyslogConnection> UdpSyslogClient::CreateConnection(
    const SyslogServer& server, const BaseConnection::Pool& pool) {
  return UdpConnection::Create(m_tracer, pool, server, m_settings);
}

}  // namespace sendara::syslog
