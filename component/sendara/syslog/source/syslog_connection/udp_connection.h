#pragma once

#include <boost/asio/ip/udp.hpp>

#include "component/sendara/syslog/source/syslog_connection/base_connection.h"

namespace sendara::syslog {

// One datagram per message to the connected peer. A failed send is traced
// and counts as sent: datagrams carry no delivery promise anyway.
class UdpConnection final : public BaseConnection {
 public:
  static std::shared_ptr<UdpConnection> Create(oru::RefPtr<oru::ITracer> tracer, const Pool& pool,
                                               const SyslogServer& server, const SyslogClientSettings& settings);

 private:
  UdpConnection(oru::RefPtr<oru::ITracer> tracer, const Pool& pool, const SyslogServer& server,
                const SyslogClientSettings& settings);

  void DoConnect(std::shared_ptr<MinimumPromise> promise) override;
  void WriteFront() override;
  void DoClose() override;

  boost::asio::ip::udp::resolver m_resolver;
  boost::asio::ip::udp::socket m_socket;
};

}  // namespace sendara::syslog
