#pragma once

#include <boost/asio/ip/tcp.hpp>

#include "component/sendara/syslog/source/syslog_connection/base_connection.h"

namespace sendara::syslog {

// Messages written to a TCP stream, one after the other.
//
// A close of a connected stream is orderly: our side ends (a FIN after the
// last message) and the socket stays open until the server has closed its
// side too, or the request time-out has run out. A server that reads its
// connections side by side writes out what came on a connection only as far
// as it has read it; the caller starts its next connection once this one's
// close is done, so that connection's messages cannot overtake the end of
// this one.
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
  // Set on the strand once the socket is connected: a close before that has
  // nothing to end in order.
  bool m_connected = false;
};

}  // namespace sendara::syslog
