#pragma once

#include "component/oru/i_client_certificate_decryptor.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/base_syslog_client.h"

namespace sendara::syslog {

class EncryptedTcpSyslogClient final : public BaseSyslogClient {
 public:
  EncryptedTcpSyslogClient(oru::RefPtr<oru::ITracer> tracer, SyslogClientSettings settings,
                           std::shared_ptr<ISuffixSource> suffixSource, base::SensitiveDataTracePolicy policy,
                           oru::RefPtr<oru::IClientCertificateDecryptor> decryptor)
      : BaseSyslogClient(std::move(tracer), std::move(settings), std::move(suffixSource), std::move(policy)),
        m_decryptor(std::move(decryptor)) {}

 private:
  std::shared_ptr<ISyslogConnection> CreateConnection(const SyslogServer& server,
                                                      const BaseConnection::Pool& pool) override;

  const oru::RefPtr<oru::IClientCertificateDecryptor> m_decryptor;
};

}  // namespace sendara::syslog
