#include "component/sendara/syslog/source/syslog_client_factory_impl/tcp_syslog_client.h"

#include "component/sendara/syslog/source/syslog_connection/tcp_connection.h"

namespace sendara::syslog {

std::shared_ptr<ISyslogConnection> TcpSyslogClient::CreateConnection(
    const SyslogServer& server, const BaseConnection::Pool& pool) {
  return TcpConnection::Create(m_tracer, pool, server, m_settings);
}

}  // namespace sendara::syslog
