#include "component/sendara/edr_telemetry/source/client/request_sender/syslog_request_sender.h"

#include <exception>
#include <string>
#include <utility>

#include "component/oru/exception_to_result.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/base/detail/common/stop_callback.h"
#include "component/sendara/base/detail/common/stop_exception.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_info.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/convert.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/join_events.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/to_syslog_server.h"

namespace sendara::edr_telemetry {

using base::TraceLevel;

SyslogRequestSender::SyslogRequestSender(oru::RefPtr<oru::ITracer> tracer, const EdrTelemetryEndpoint& endpoint,
                                         std::shared_ptr<syslog::SyslogClientFactoryImpl> clientFactory,
                                         const std::shared_ptr<IEdrTelemetryClientSettingsProvider>& settingsProvider)
    : m_tracer(std::move(tracer)), m_server(ToSyslogServer(endpoint.endpoint)) {
  SENDARA_CONTRACT(clientFactory && settingsProvider, "no syslog client factory or settings provider");
  const EdrTelemetryClientSettings settings = settingsProvider->GetSettings();
  syslog::SyslogClientSettings clientSettings;
  // The tolerated TLS errors are not handed over: they are a matter of the
  // HTTP client's checks only.
  if (!settings.serverCerts.empty()) clientSettings.serverCerts = settings.serverCerts;
  if (settings.clientCert) {
    clientSettings.clientCert =
        syslog::SyslogClientSettings::ClientCertificate{settings.clientCert->keyPrivate, settings.clientCert->certPublic};
  }
  clientSettings.timeoutConnection = settings.timeoutConnection;
  clientSettings.timeoutRequest = settings.timeoutRequest;
  m_protocol = Convert(endpoint.protocol);
  clientSettings.protocol = m_protocol;

  const oru::Result created = clientFactory->CreateSyslogClient(clientSettings, m_client);
  if (oru::Failed(created) || !m_client) {
    SENDARA_THROW(base::sendara_exception, oru::Failed(created) ? created : oru::rc::Unexpected,
                  "Can't create syslog client");
  }
}

void SyslogRequestSender::Send(Batch batch, std::uint64_t& sentCount, const base::StopToken& stopToken) {
  // Held for the call: the stop callback may run on another thread.
  const oru::RefPtr<syslog::ISyslogClient> client = m_client;
  try {
    const base::StopCallback onStop(
        stopToken,
        [this, &client] {
          SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "stopped, set wakeupEvent");
          // Ends pending connects and queued writes at once.
          client->CloseConnections();
        },
        m_tracer);
    if (stopToken.StopRequested()) {
      SENDARA_THROW(base::stop_exception, oru::rc::OperationCancelled, "stop token requested");
    }
    if (m_protocol == syslog::SyslogProtocol::Udp) {
      for (const std::string_view event : batch) {
        // A datagram cannot fail on a closed connection the way a stream
        // does: without this check a stop would go unnoticed to the end.
        if (stopToken.StopRequested()) {
          SENDARA_THROW(base::stop_exception, oru::rc::OperationCancelled, "stop token requested");
        }
        client->MakeRequestAsync(m_server, std::string(event));
        ++sentCount;
      }
    } else if (!batch.empty()) {
      client->MakeRequestAsync(m_server, JoinEvents(batch));
      sentCount += batch.size();
    }
  } catch (const base::stop_exception&) {
    throw;
  } catch (base::connection_exception& e) {
    if (stopToken.StopRequested()) {
      SENDARA_THROW(base::stop_exception, oru::rc::OperationCancelled, "syslog request stopped");
    }
    // The endpoint is named whatever raised it.
    if (!e.FindProperty(ConnectionErrorInfo::kReason)) e.SetProperty(ConnectionErrorInfo::kReason, std::uint64_t{0});
    if (!e.FindProperty(ConnectionErrorInfo::kServerAddress)) {
      e.SetProperty(ConnectionErrorInfo::kServerAddress, m_server.ToString());
    }
    throw;
  } catch (...) {
    if (stopToken.StopRequested()) {
      SENDARA_THROW(base::stop_exception, oru::rc::OperationCancelled, "syslog request stopped");
    }
    // A failure without a failure code is no delivery either: it gets one,
    // so that the package is kept.
    const oru::Result code = oru::ExceptionToResult(nullptr, {});
    base::connection_exception exception(code, "can't send request", __FILE__, __LINE__);
    ConnectionErrorInfo info;
    info.serverAddress = m_server.ToString();
    info.ApplyTo(exception);
    base::ThrowNested(std::move(exception));
  }
}

void SyslogRequestSender::WaitAndCloseConnections() {
  SENDARA_CHECK_RESULT(m_client->WaitAndCloseConnections(), base::sendara_exception, "");
}

}  // namespace sendara::edr_telemetry
