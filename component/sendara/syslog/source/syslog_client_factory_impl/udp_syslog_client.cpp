#include "component/sendara/syslog/source/syslog_client_factory_impl/udp_syslog_client.h"

#include "component/sendara/syslog/source/syslog_connection/udp_connection.h"

namespace sendara::syslog {

std::shared_ptr<ISyslogConnection> UdpSyslogClient::CreateConnection(
    const SyslogServer& server, const boost::asio::thread_pool::executor_type& executor) {
  return UdpConnection::Create(m_tracer, executor, server, m_settings);
}

}  // namespace sendara::syslog
