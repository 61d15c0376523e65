#include "component/sendara/edr_telemetry/source/client/request_sender/mediator_request_sender.h"

#include <exception>
#include <string>
#include <utility>

#include <boost/json/serialize.hpp>

#include "component/sendara/base/detail/common/bad_request_exception.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/base/detail/common/stop_exception.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_json.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/add_default_scheme.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/endpoint_sender_factory.h"

namespace sendara::edr_telemetry {
namespace {

using base::TraceLevel;

bool IsHttp(EdrTelemetryProtocol protocol) noexcept {
  return protocol == EdrTelemetryProtocol::HTTP || protocol == EdrTelemetryProtocol::HTTP_COMPRESSED;
}

std::string ToJson(const EdrTelemetryEndpoint& endpoint) {
  return boost::json::serialize(EndpointToTraceJson(endpoint));
}

}  // namespace

MediatorRequestSender::MediatorRequestSender(oru::RefPtr<oru::ITracer> tracer,
                                             std::shared_ptr<IEdrTelemetryClientSettingsProvider> settingsProvider,
                                             std::shared_ptr<IConnectionEventHandler> eventHandler,
                                             std::shared_ptr<syslog::SyslogClientFactoryImpl> syslogClientFactory,
                                             std::shared_ptr<IRequestSenderStringFactory> requestSenderFactory)
    : MediatorRequestSender(tracer, settingsProvider, std::move(eventHandler),
                            std::make_shared<EndpointSenderFactory>(tracer, settingsProvider,
                                                                    std::move(syslogClientFactory),
                                                                    std::move(requestSenderFactory))) {}

MediatorRequestSender::MediatorRequestSender(oru::RefPtr<oru::ITracer> tracer,
                                             std::shared_ptr<IEdrTelemetryClientSettingsProvider> settingsProvider,
                                             std::shared_ptr<IConnectionEventHandler> eventHandler,
                                             std::shared_ptr<IEndpointSenderFactory> senderFactory)
    : m_tracer(std::move(tracer)),
      m_settingsProvider(std::move(settingsProvider)),
      m_eventHandler(std::move(eventHandler)),
      m_senderFactory(std::move(senderFactory)) {
  SENDARA_CONTRACT(m_settingsProvider && m_eventHandler && m_senderFactory,
                   "no settings provider, event handler or sender factory");
  if (m_settingsProvider->GetSettings().endpoints.empty()) {
    SENDARA_THROW(base::sendara_exception, oru::rc::InvalidArgument, "no endpoints");
  }
}

void MediatorRequestSender::Send(Batch batch, std::uint64_t& sentCount, const base::StopToken& stopToken) {
  if (!m_currentSender) {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "send with handshake");
    m_currentSender = Handshake(batch, sentCount, stopToken);
    return;
  }
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "send without handshake");
  SendThrough(*m_currentSender, batch, sentCount, stopToken);
}

void MediatorRequestSender::WaitAndCloseConnections() {
  if (m_currentSender) m_currentSender->WaitAndCloseConnections();
}

void MediatorRequestSender::SendThrough(IRequestSender& sender, Batch batch, std::uint64_t& sentCount,
                                        const base::StopToken& stopToken) {
  try {
    sender.Send(batch, sentCount, stopToken);
  } catch (const base::connection_exception& e) {
    if (stopToken.StopRequested()) {
      SENDARA_THROW(base::stop_exception, oru::rc::OperationCancelled, "send stopped");
    }
    m_eventHandler->ConnectionError(ConnectionErrorInfo::From(e));
    throw;
  }
}

std::shared_ptr<IRequestSender> MediatorRequestSender::Handshake(Batch batch, std::uint64_t& sentCount,
                                                                 const base::StopToken& stopToken) {
  const EdrTelemetryClientSettings settings = m_settingsProvider->GetSettings();
  std::exception_ptr lastFailure;
  std::string lastAddress;
  for (const EdrTelemetryEndpoint& endpoint : settings.endpoints) {
    m_currentEndpoint.protocol = endpoint.protocol;
    m_currentEndpoint.endpoint = IsHttp(endpoint.protocol) ? AddDefaultScheme(endpoint.endpoint) : endpoint.endpoint;
    std::shared_ptr<IRequestSender> sender;
    // An endpoint that fails half-way may have counted events that the next
    // one then hands over again: only the count of the endpoint that takes
    // the package is the caller's.
    std::uint64_t attemptCount = 0;
    try {
      sender = m_senderFactory->CreateSender(endpoint);
      SendThrough(*sender, batch, attemptCount, stopToken);
    } catch (const base::stop_exception&) {
      throw;
    } catch (const base::bad_request_exception&) {
      // The endpoint answered: it is there, it only refused this package,
      // which the caller drops; the next package goes to it.
      if (sender) {
        ReportConnected();
        m_currentSender = std::move(sender);
        throw;
      }
      lastFailure = std::current_exception();
      lastAddress = m_currentEndpoint.endpoint;
      continue;
    } catch (...) {
      if (stopToken.StopRequested()) {
        SENDARA_THROW(base::stop_exception, oru::rc::OperationCancelled, "handshake stopped");
      }
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "skip endpoint: endpoint = " << ToJson(m_currentEndpoint));
      lastFailure = std::current_exception();
      lastAddress = m_currentEndpoint.endpoint;
      continue;
    }
    sentCount += attemptCount;
    ReportConnected();
    return sender;
  }

  base::connection_exception exception(oru::rc::InvalidArgument, "not available endpoints", __FILE__, __LINE__);
  ConnectionErrorInfo info;
  info.serverAddress = lastAddress;
  info.ApplyTo(exception);
  if (!lastFailure) base::ThrowNested(std::move(exception));
  try {
    std::rethrow_exception(lastFailure);
  } catch (...) {
    base::ThrowNested(std::move(exception));
  }
}

void MediatorRequestSender::ReportConnected() {
  if (m_currentEndpoint.protocol == EdrTelemetryProtocol::UDP) {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                  "UDP message sent without errors, but connection can`t be verified: endpoint = "
                      << ToJson(m_currentEndpoint));
    return;
  }
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "successful send with handshake: endpoint = " << ToJson(m_currentEndpoint));
  m_eventHandler->Connected(m_currentEndpoint.endpoint, "");
}

}  // namespace sendara::edr_telemetry
