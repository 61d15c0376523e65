#pragma once

#include <memory>

#include "component/oru/i_service_locator.h"
#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/base/detail/request_sender/i_request_sender_string.h"
#include "component/sendara/base/detail/request_sender/request_sender_settings.h"

namespace sendara::base {

// Makes request senders over HTTP clients of the host's client factory.
class RequestSenderStringFactory {
 public:
  RequestSenderStringFactory(oru::RefPtr<oru::IServiceLocator> locator, oru::RefPtr<oru::ITracer> tracer,
                             SensitiveDataTracePolicy policy);

  // A sender with its own client. Raises contract_exception for a tunnel of
  // another form than ValidateTunnelAddress accepts, what
  // ServerCertificateHandler raises for unreadable server certificates, and
  // sendara_exception "can't create http client" with the result code when
  // the host has no client factory or it refuses the client.
  std::unique_ptr<IRequestSenderString> CreateRequestSender(const RequestSenderSettings& settings) const;

 private:
  const oru::RefPtr<oru::IServiceLocator> m_locator;
  const oru::RefPtr<oru::ITracer> m_tracer;
  const SensitiveDataTracePolicy m_policy;
};

}  // namespace sendara::base
