#include "component/sendara/syslog/source/syslog_client_factory_impl/tcp_syslog_client.h"

#include "component/sendara/syslog/source/syslog_connection/tcp_connection.h"

namespace sendara::syslog {

std::shared_ptr<ISyslogConnection> TcpSyslogClient::CreateConnection(
    const SyslogServer& server, const boost::asio::thread_pool::executor_type& executor) {
  return TcpConnection::Create(m_tracer, executor, server, m_settings);
}

}  // namespace sendara::syslog
