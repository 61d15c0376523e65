#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/request_sender/i_request_sender_string.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_request_sender.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/i_request_sender_string_factory.h"

namespace sendara::edr_telemetry {

// Delivers each package as one POST of the events, one per line, plain or
// gzip-compressed. Statuses from 200 to 399 are delivery; error statuses are
// raised as:
//   400, 406, 413        bad_request_exception "bad request error"
//   404                  not_found_exception "not found error"
//   401, 403             connection_exception "unauthorized request error", reason 1
//   other 4xx            internal_exception "client error responses, converted to internal error"
//   500, 502, 504        internal_exception "server error processing request"
//   503                  internal_exception "server is not ready to receive requests"
//   any other            connection_exception "can't send request", reason 0
// Every other failure is connection_exception "can't send request" with its
// result code (reason 2 for the host client's server certificate codes);
// every connection_exception carries "server_address" = the url. A stop
// passes as stop_exception.
class HttpRequestSender final : public IRequestSender {
 public:
  // Raises sendara_exception "an endpoint is empty" for an empty address.
  HttpRequestSender(oru::RefPtr<oru::ITracer> tracer, std::string_view address, bool compress,
                    const std::shared_ptr<IRequestSenderStringFactory>& requestSenderFactory);

  void Send(Batch batch, std::uint64_t& sentCount, const base::StopToken& stopToken) override;
  // Every request ends within its own call: nothing is left to wait for.
  void WaitAndCloseConnections() override {}

  const std::string& Url() const noexcept { return m_url; }

 private:
  [[noreturn]] void ThrowForStatus(std::uint64_t status) const;

  const oru::RefPtr<oru::ITracer> m_tracer;
  std::string m_url;
  std::shared_ptr<base::IRequestSenderString> m_requestSender;
  const bool m_compress;
};

}  // namespace sendara::edr_telemetry
