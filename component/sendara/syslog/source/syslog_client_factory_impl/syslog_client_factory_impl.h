#pragma once

#include <memory>

#include "component/oru/i_client_certificate_decryptor.h"
#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/i_suffix_source.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/i_syslog_client.h"
#include "component/sendara/syslog/source/syslog_connection/syslog_client_settings.h"

namespace sendara::syslog {

// Makes one syslog client for the protocol of the settings.
class SyslogClientFactoryImpl {
 public:
  SyslogClientFactoryImpl(oru::RefPtr<oru::ITracer> tracer, std::shared_ptr<ISuffixSource> suffixSource,
                          base::SensitiveDataTracePolicy policy,
                          oru::RefPtr<oru::IClientCertificateDecryptor> decryptor);

  // Raises contract_exception "Unsupported protocol" for a protocol it does
  // not know.
  oru::RefPtr<ISyslogClient> CreateSyslogClient(const SyslogClientSettings& settings);
  // The same, answering a result code.
  oru::Result CreateSyslogClient(const SyslogClientSettings& settings, oru::RefPtr<ISyslogClient>& client) noexcept;

 private:
  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::shared_ptr<ISuffixSource> m_suffixSource;
  const base::SensitiveDataTracePolicy m_policy;
  const oru::RefPtr<oru::IClientCertificateDecryptor> m_decryptor;
};

}  // namespace sendara::syslog
