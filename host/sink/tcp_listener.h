#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include "host/sink/connection.h"
#include "host/sink/connection_set.h"
#include "host/sink/protocol.h"

namespace siem_sink {

// Accepts connections for one protocol and hands each, on a strand of its
// own, to the connection the factory makes for it. Stop closes the listening
// socket and stops the connections still open.
class TcpListener {
 public:
  // `peer` names the connection in diagnostics ("tls 127.0.0.1:40000").
  using ConnectionFactory =
      std::function<std::shared_ptr<Connection>(boost::asio::ip::tcp::socket socket, std::string peer)>;

  // Listens at once. Throws std::system_error saying what could not be done.
  TcpListener(boost::asio::io_context& io, const boost::asio::ip::tcp::endpoint& endpoint, Protocol protocol,
              ConnectionFactory factory);
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  // The port listened on, the one the system chose when 0 was asked for.
  std::uint16_t Port() const { return m_port; }

  void Start();
  // From any thread; returns at once.
  void Stop();

 private:
  void Accept();
  void OnAccept(const boost::system::error_code& error, boost::asio::ip::tcp::socket socket);

  boost::asio::io_context& m_io;
  const Protocol m_protocol;
  const ConnectionFactory m_factory;
  // The acceptor, the retry timer and m_stopped are used on this strand only.
  boost::asio::strand<boost::asio::io_context::executor_type> m_strand;
  boost::asio::ip::tcp::acceptor m_acceptor;
  boost::asio::steady_timer m_retry;
  std::uint16_t m_port = 0;
  std::string m_name;  // "tcp 127.0.0.1:40000", for diagnostics
  bool m_stopped = false;
  ConnectionSet m_connections;
};

}  // namespace siem_sink
