#pragma once

#include <string>

#include "component/oru/i_object.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/syslog_message.h"
#include "component/sendara/syslog/source/syslog_connection/syslog_server.h"

namespace sendara::syslog {

// Delivers message texts to syslog servers, one connection per server.
class ISyslogClient : public oru::IObject {
 public:
  static constexpr oru::InterfaceId kIid = 0x5C1A7E01;

  // Returns once the text is written; raises connection_exception (the
  // connection is then dropped, and the next message connects anew). The
  // text is taken over: a package moved in is written without a copy.
  virtual void MakeRequestAsync(const SyslogServer& server, std::string text) = 0;
  virtual void MakeRequestAsync(const SyslogServer& server, const SyslogMessage& message) = 0;
  // Never throw; they answer a result code.
  virtual oru::Result CloseConnections() noexcept = 0;
  virtual oru::Result WaitAndCloseConnections() noexcept = 0;

 protected:
  ~ISyslogClient() = default;
};

}  // namespace sendara::syslog
