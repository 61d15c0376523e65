#pragma once

#include <boost/asio/ip/tcp.hpp>

#include "component/sendara/syslog/source/syslog_connection/base_connection.h"

namespace sendara::syslog {

// Messages written to a TCP stream, one after the other.
class TcpConnection final : public BaseConnection {
 public:
  static std::shared_ptr<TcpConnection> Create(oru::RefPtr<oru::ITracer> tracer, const Pool& pool,
                                               const SyslogServer& server, const SyslogClientSettings& settings);

 private:
  TcpConnection(oru::RefPtr<oru::ITracer> tracer, const Pool& pool, const SyslogServer& server,
                const SyslogClientSettings& settings);

  void DoConnect(std::shared_ptr<MinimumPromise> promise) override;
  void WriteFront() override;
  void DoClose() override;
  // Reads what the server sent without blocking, and drops it: a peer that
  // closed or reset the connection since the last message is gone.
  bool PeerAlive() override;

  boost::asio::ip::tcp::resolver m_resolver;
  boost::asio::ip::tcp::socket m_socket;
};

}  // namespace sendara::syslog
