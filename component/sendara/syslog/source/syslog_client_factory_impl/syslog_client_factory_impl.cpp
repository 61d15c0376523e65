#include "component/sendara/syslog/source/syslog_client_factory_impl/syslog_client_factory_impl.h"

#include "component/oru/exception_to_result.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/encrypted_tcp_syslog_client.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/plain_syslog_client.h"
#include "component/sendara/syslog/source/syslog_connection/tcp_connection.h"
#include "component/sendara/syslog/source/syslog_connection/udp_connection.h"

namespace sendara::syslog {

SyslogClientFactoryImpl::SyslogClientFactoryImpl(oru::RefPtr<oru::ITracer> tracer,
                                                 std::shared_ptr<ISuffixSource> suffixSource,
                                                 base::SensitiveDataTracePolicy policy,
                                                 oru::RefPtr<oru::IClientCertificateDecryptor> decryptor)
    : m_tracer(std::move(tracer)),
      m_suffixSource(std::move(suffixSource)),
      m_policy(std::move(policy)),
      m_decryptor(std::move(decryptor)) {}

oru::RefPtr<ISyslogClient> SyslogClientFactoryImpl::CreateSyslogClient(const SyslogClientSettings& settings) {
  SENDARA_TRACE(m_tracer, base::TraceLevel::kInfo, "protocol: " << static_cast<std::uint32_t>(settings.protocol));
  switch (settings.protocol) {
    case SyslogProtocol::Tcp:
      return oru::MakeObject<PlainSyslogClient<TcpConnection>>(m_tracer, settings, m_suffixSource, m_policy);
    case SyslogProtocol::Udp:
      return oru::MakeObject<PlainSyslogClient<UdpConnection>>(m_tracer, settings, m_suffixSource, m_policy);
    case SyslogProtocol::EncryptedTcp:
      return oru::MakeObject<EncryptedTcpSyslogClient>(m_tracer, settings, m_suffixSource, m_policy, m_decryptor);
    default:
      break;
  }
  SENDARA_CHECK(false, base::contract_exception, oru::rc::InvalidArgument, "Unsupported protocol");
  return {};
}

oru::Result SyslogClientFactoryImpl::CreateSyslogClient(const SyslogClientSettings& settings,
                                                        oru::RefPtr<ISyslogClient>& client) noexcept {
  try {
    client = CreateSyslogClient(settings);
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

}  // namespace sendara::syslog
