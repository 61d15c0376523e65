#include "component/sendara/syslog/source/syslog_client_factory_impl/encrypted_tcp_syslog_client.h"

#include "component/sendara/syslog/source/syslog_connection/encrypted_tcp_connection.h"

namespace sendara::syslog {

std::shared_ptr<ISyslogConnection> EncryptedTcpSyslogClient::CreateConnection(
    const SyslogServer& server, const BaseConnection::Pool& pool) {
  return EncryptedTcpConnection::Create(m_tracer, pool, server, m_settings, m_decryptor);
}

}  // namespace sendara::syslog
