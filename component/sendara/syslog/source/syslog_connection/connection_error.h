#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <boost/system/error_code.hpp>

#include "component/oru/result_code.h"
#include "component/sendara/base/detail/common/connection_exception.h"

namespace sendara::syslog {

// The result code of a socket error.
oru::Result ResultFromSocketError(const boost::system::error_code& error) noexcept;

// A connection_exception with "reason" and "server_address" set.
base::connection_exception MakeConnectionException(oru::Result code, std::uint32_t reason,
                                                   const std::string& serverAddress, std::string message,
                                                   const char* file, int line);

}  // namespace sendara::syslog
