#include "component/sendara/syslog/source/syslog_connection/connection_error.h"

#include <boost/asio/error.hpp>

#include "component/platform/system_error.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_info.h"

namespace sendara::syslog {

oru::Result ResultFromSocketError(const boost::system::error_code& error) noexcept {
  if (error == boost::asio::error::operation_aborted) return oru::rc::OperationCancelled;
  if (error.category() == boost::system::system_category() || error.category() == boost::system::generic_category()) {
    const oru::Result result = platform::ResultFromErrno(error.value());
    return result == oru::rc::UnspecifiedPlatformError ? oru::rc::NetworkError : result;
  }
  return oru::rc::NetworkError;
}

base::connection_exception MakeConnectionException(oru::Result code, std::uint32_t reason,
                                                   const std::string& serverAddress, std::string message,
                                                   const char* file, int line) {
  base::connection_exception exception(code, std::move(message), file, line);
  edr_telemetry::ConnectionErrorInfo info;
  info.reason = reason;
  info.serverAddress = serverAddress;
  info.ApplyTo(exception);
  return exception;
}

}  // namespace sendara::syslog
