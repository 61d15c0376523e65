#include "component/sendara/syslog/source/syslog_connection/connection_error.h"

#include <system_error>

#include <boost/asio/error.hpp>

#include "component/platform/system_error.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_info.h"

namespace sendara::syslog {

oru::Result ResultFromSocketError(const boost::system::error_code& error) noexcept {
  if (error == boost::asio::error::operation_aborted) return oru::rc::OperationCancelled;
  // The socket layer's own codes are the system's (errno values, or Winsock
  // codes on Windows) in the system category.
  const bool system = error.category() == boost::system::system_category();
  if (system || error.category() == boost::system::generic_category()) {
    const oru::Result result = platform::ResultFromErrorCode(
        std::error_code(error.value(), system ? std::system_category() : std::generic_category()));
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
