#include "component/sendara/syslog/source/syslog_client_factory_impl/encrypted_tcp_syslog_client.h"

#include "component/sendara/syslog/source/syslog_connection/encrypted_tcp_connection.h"

namespace sendara::syslog {

std::shared_ptr<ISyslogConnection> EncryptedTcpSyslogClient::CreateConnection(
    const SyslogServer& server, const boost::asio::thread_pool::executor_type& executor) {
  return EncryptedTcpConnection::Create(m_tracer, executor, server, m_settings, m_decryptor);
}

}  // namespace sendara::syslog
