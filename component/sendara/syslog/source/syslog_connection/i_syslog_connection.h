#pragma once

#include <cstdint>
#include <vector>

#include "component/sendara/base/detail/common/stop_token.h"

namespace sendara::syslog {

// One connection to one syslog server. The operations block their caller
// until the work is done, fails, or its time-out runs out; failures raise
// connection_exception.
class ISyslogConnection {
 public:
  virtual ~ISyslogConnection() = default;
  // A stop requested through the token closes a connect under way.
  virtual void Connect(const base::StopToken& stopToken) = 0;
  virtual void SendMessage(std::vector<std::uint8_t> bytes) = 0;
  // Asynchronous; never throws.
  virtual void Close() noexcept = 0;
  // False when the peer is known to have ended the connection, so that a
  // message is not written into a dead socket.
  virtual bool IsUsable() = 0;
};

}  // namespace sendara::syslog
