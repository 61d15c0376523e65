#include "component/sendara/edr_telemetry/source/client/request_sender/http_request_sender.h"

#include <exception>
#include <utility>
#include <variant>

#include "component/oru/exception_to_result.h"
#include "component/oru/http_result.h"
#include "component/sendara/base/detail/common/bad_request_exception.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/http_exception.h"
#include "component/sendara/base/detail/common/internal_exception.h"
#include "component/sendara/base/detail/common/not_found_exception.h"
#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/base/detail/common/stop_exception.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/add_default_scheme.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_info.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_reason.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/join_events.h"

namespace sendara::edr_telemetry {
namespace {

constexpr std::string_view kHttpCode = "http_code";

// The host client's verdicts on the server's certificate (and the TLS
// handshake): the endpoint is not the one it claims to be.
bool IsServerCertificateResult(oru::Result code) noexcept {
  return code == oru::http_result::kTlsFailure || code == oru::http_result::kServerCertificateRejected ||
         code == oru::http_result::kServerCertificateExpired ||
         code == oru::http_result::kServerCertificateNameMismatch;
}

std::uint64_t StatusOf(const base::http_exception& e) noexcept {
  const auto* value = e.FindProperty(kHttpCode);
  if (!value) return 0;
  if (const auto* u = std::get_if<std::uint64_t>(value)) return *u;
  if (const auto* i = std::get_if<std::int64_t>(value)) return static_cast<std::uint64_t>(*i);
  return 0;
}

[[noreturn]] void ThrowConnection(oru::Result code, std::string message, ConnectionErrorReason reason,
                                  const std::string& url, const char* file, int line) {
  base::connection_exception exception(code, std::move(message), file, line);
  ConnectionErrorInfo info;
  info.reason = static_cast<std::uint32_t>(reason);
  info.serverAddress = url;
  info.ApplyTo(exception);
  base::ThrowNested(std::move(exception));
}

}  // namespace

HttpRequestSender::HttpRequestSender(oru::RefPtr<oru::ITracer> tracer, std::string_view address, bool compress,
                                     const std::shared_ptr<IRequestSenderStringFactory>& requestSenderFactory)
    : m_tracer(std::move(tracer)), m_compress(compress) {
  if (address.empty()) SENDARA_THROW(base::sendara_exception, oru::rc::InvalidArgument, "an endpoint is empty");
  SENDARA_CONTRACT(requestSenderFactory, "no request sender factory");
  m_requestSender = requestSenderFactory->CreateRequestSender();
  SENDARA_CONTRACT(m_requestSender, "no request sender");
  m_url = AddDefaultScheme(address);
}

void HttpRequestSender::Send(Batch batch, std::uint64_t& sentCount, const base::StopToken& stopToken) {
  const std::string body = JoinEvents(batch);
  try {
    // The answer is not read; it wipes itself when it goes.
    m_requestSender->Post(m_url, body, stopToken, m_compress);
  } catch (const base::stop_exception&) {
    throw;
  } catch (...) {
    if (stopToken.StopRequested()) {
      SENDARA_THROW(base::stop_exception, oru::rc::OperationCancelled, "http request stopped");
    }
    try {
      throw;
    } catch (const base::http_exception& e) {
      ThrowForStatus(StatusOf(e));
    } catch (base::connection_exception& e) {
      // No final answer: the request layer's own verdict, naming the endpoint.
      if (!e.FindProperty(ConnectionErrorInfo::kReason)) e.SetProperty(ConnectionErrorInfo::kReason, std::uint64_t{0});
      e.SetProperty(ConnectionErrorInfo::kServerAddress, m_url);
      throw;
    } catch (...) {
      // Also for an exception with a code that is no failure: nothing says
      // the package arrived, so it must be kept.
      const oru::Result code = oru::ExceptionToResult(nullptr, {});
      ThrowConnection(code, "can't send request",
                      IsServerCertificateResult(code) ? ConnectionErrorReason::eInvalidServerCertificate
                                                      : ConnectionErrorReason::eCommon,
                      m_url, __FILE__, __LINE__);
    }
  }
  sentCount += batch.size();
}

void HttpRequestSender::ThrowForStatus(std::uint64_t status) const {
  SENDARA_TRACE(m_tracer, base::TraceLevel::kWarning, "url = " << m_url << "; http status = " << status);
  switch (status) {
    case 400:
    case 406:
    case 413:
      SENDARA_THROW(base::bad_request_exception, oru::rc::InvalidArgument, "bad request error");
    case 404:
      SENDARA_THROW(base::not_found_exception, oru::rc::InvalidArgument, "not found error");
    case 401:
    case 403:
      ThrowConnection(oru::rc::InvalidState, "unauthorized request error",
                      ConnectionErrorReason::eInvalidClientCertificate, m_url, __FILE__, __LINE__);
    case 500:
    case 502:
    case 504:
      SENDARA_THROW(base::internal_exception, oru::rc::InvalidState, "server error processing request");
    case 503:
      SENDARA_THROW(base::internal_exception, oru::rc::NotReady, "server is not ready to receive requests");
    default:
      break;
  }
  if (status >= 400 && status <= 499) {
    SENDARA_THROW(base::internal_exception, oru::rc::InvalidArgument,
                  "client error responses, converted to internal error");
  }
  ThrowConnection(oru::rc::InvalidState, "can't send request", ConnectionErrorReason::eCommon, m_url, __FILE__,
                  __LINE__);
}

}  // namespace sendara::edr_telemetry
