#pragma once

#include <cstdint>
#include <memory>

#include "component/sendara/base/detail/common/stop_token.h"
#include "component/sendara/syslog/source/syslog_connection/syslog_payload.h"

namespace sendara::syslog {

// One connection to one syslog server. The operations block their caller
// until the work is done, fails, or its time-out runs out; failures raise
// connection_exception.
class ISyslogConnection {
 public:
  virtual ~ISyslogConnection() = default;
  // A stop requested through the token closes a connect under way.
  virtual void Connect(const base::StopToken& stopToken) = 0;
  // Before writing, a connection the peer is known to have ended fails with
  // a connection_exception carrying "peer_closed" = true, and writes
  // nothing: the message was not sent and may go on a new connection.
  // The bytes are shared, not copied: the connection keeps them until they
  // are written, and a caller may send them again elsewhere.
  using Payload = std::shared_ptr<const SyslogPayload>;
  virtual void SendMessage(Payload bytes) = 0;
  // Asynchronous; never throws.
  virtual void Close() noexcept = 0;
  // Waits until a Close has done its work (for TCP and TLS: the orderly
  // end, which waits for the server to close its side and gives up after
  // the request time-out); false when the time ran out first.
  virtual bool WaitClosed(std::uint32_t timeoutMilliseconds) noexcept = 0;
};

}  // namespace sendara::syslog
