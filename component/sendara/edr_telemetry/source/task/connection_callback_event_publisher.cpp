#include "component/sendara/edr_telemetry/source/task/connection_callback_event_publisher.h"

#include <ios>
#include <utility>

#include "component/oru/service_lookup.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_reason.h"

namespace sendara::edr_telemetry::task {
namespace {

using base::TraceLevel;

// The host's reason codes: its numbering of the two certificate failures is
// the reverse of ours, and it has no code for the other failures.
enum class HostConnectionErrorReason : std::uint32_t {
  eCommon = 0,
  eInvalidServerCertificate = 1,
  eInvalidClientCertificate = 2,
};

enum class HostIncorrectSettingsReason : std::uint32_t {
  eClientCertificateDecryptFailed = 1,
};

HostConnectionErrorReason ToHostReason(std::uint32_t reason) noexcept {
  switch (static_cast<ConnectionErrorReason>(reason)) {
    case ConnectionErrorReason::eInvalidClientCertificate:
      return HostConnectionErrorReason::eInvalidClientCertificate;
    case ConnectionErrorReason::eInvalidServerCertificate:
      return HostConnectionErrorReason::eInvalidServerCertificate;
    default:
      return HostConnectionErrorReason::eCommon;
  }
}

std::string_view TunnelText(const std::optional<std::string>& tunnel) noexcept {
  return tunnel ? std::string_view(*tunnel) : std::string_view("{nullopt}");
}

}  // namespace

ConnectionCallbackEventPublisher::ConnectionCallbackEventPublisher(oru::RefPtr<oru::ITracer> tracer,
                                                                   oru::IServiceLocator* locator)
    : m_tracer(std::move(tracer)),
      m_connectedSink(oru::GetOptionalService<oru::IConnectedSink>(locator)),
      m_connectionErrorSink(oru::GetOptionalService<oru::IConnectionErrorSink>(locator)),
      m_incorrectSettingsSink(oru::GetOptionalService<oru::IIncorrectSettingsSink>(locator)) {}

void ConnectionCallbackEventPublisher::Connected(std::string_view serverAddress,
                                                 const std::optional<std::string>& tunnel) noexcept {
  if (!m_connectedSink) return;
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                "server address = " << serverAddress << "; tunnel = " << TunnelText(tunnel));
  const oru::Result result = m_connectedSink->Connected(serverAddress, tunnel);
  if (oru::Failed(result)) {
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                  "sink failed: result = 0x" << std::hex << static_cast<std::uint32_t>(result));
  }
}

void ConnectionCallbackEventPublisher::ConnectionError(std::uint32_t reason, std::string_view serverAddress,
                                                       const std::optional<std::string>& tunnel) noexcept {
  if (!m_connectionErrorSink) return;
  SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                "reason = " << ConnectionErrorReasonName(reason).value_or("") << "; server address = "
                            << serverAddress << "; tunnel = " << TunnelText(tunnel));
  const oru::Result result = m_connectionErrorSink->ConnectionError(
      static_cast<std::uint32_t>(ToHostReason(reason)), serverAddress, tunnel);
  if (oru::Failed(result)) {
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                  "sink failed: result = 0x" << std::hex << static_cast<std::uint32_t>(result));
  }
}

void ConnectionCallbackEventPublisher::IncorrectSettingsApplying() noexcept {
  if (!m_incorrectSettingsSink) return;
  SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "reason = ClientCertificateDecryptFailed");
  const oru::Result result = m_incorrectSettingsSink->IncorrectSettings(
      static_cast<std::uint32_t>(HostIncorrectSettingsReason::eClientCertificateDecryptFailed));
  if (oru::Failed(result)) {
    SENDARA_TRACE(m_tracer, TraceLevel::kWarning,
                  "sink failed: result = 0x" << std::hex << static_cast<std::uint32_t>(result));
  }
}

}  // namespace sendara::edr_telemetry::task
