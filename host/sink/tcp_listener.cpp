#include "host/sink/tcp_listener.h"

#include <chrono>
#include <sstream>
#include <system_error>
#include <utility>

#include <boost/asio/post.hpp>

#include "host/sink/diagnostic_log.h"

namespace siem_sink {
namespace {

// After an accept fails for want of resources (descriptors, memory), the
// next try waits a little instead of spinning on the same failure.
constexpr std::chrono::milliseconds kAcceptRetryDelay{100};

std::string Describe(Protocol protocol, const boost::asio::ip::tcp::endpoint& endpoint) {
  std::ostringstream text;
  text << ProtocolName(protocol) << ' ' << endpoint;
  return text.str();
}

}  // namespace

TcpListener::TcpListener(boost::asio::io_context& io, const boost::asio::ip::tcp::endpoint& endpoint,
                         Protocol protocol, ConnectionFactory factory)
    : m_io(io),
      m_protocol(protocol),
      m_factory(std::move(factory)),
      m_strand(boost::asio::make_strand(io)),
      m_acceptor(m_strand),
      m_retry(m_strand) {
  const auto fail = [&](const boost::system::error_code& error, const char* what) {
    if (error) {
      throw std::system_error(error, std::string("cannot ") + what + " for " + Describe(protocol, endpoint));
    }
  };
  boost::system::error_code error;
  m_acceptor.open(endpoint.protocol(), error);
  fail(error, "open a socket");
  // A port of a sink stopped a moment ago (connections in TIME_WAIT) can be
  // taken again at once: scripts restart the sink on the same port.
  m_acceptor.set_option(boost::asio::socket_base::reuse_address(true), error);
  fail(error, "set SO_REUSEADDR");
  m_acceptor.bind(endpoint, error);
  fail(error, "listen");
  m_acceptor.listen(boost::asio::socket_base::max_listen_connections, error);
  fail(error, "listen");
  const boost::asio::ip::tcp::endpoint bound = m_acceptor.local_endpoint(error);
  fail(error, "read the port");
  m_port = bound.port();
  m_name = Describe(protocol, bound);
}

void TcpListener::Start() {
  boost::asio::post(m_strand, [this] { Accept(); });
}

void TcpListener::Stop() {
  boost::asio::post(m_strand, [this] {
    m_stopped = true;
    boost::system::error_code ignored;
    m_acceptor.close(ignored);
    m_retry.cancel();
    m_connections.StopAll();
  });
}

void TcpListener::Accept() {
  if (m_stopped) return;
  // Each connection gets a strand of its own: its handlers never run at the
  // same time, those of different connections may.
  m_acceptor.async_accept(boost::asio::make_strand(m_io),
                          [this](const boost::system::error_code& error, boost::asio::ip::tcp::socket socket) {
                            OnAccept(error, std::move(socket));
                          });
}

void TcpListener::OnAccept(const boost::system::error_code& error, boost::asio::ip::tcp::socket socket) {
  if (m_stopped || error == boost::asio::error::operation_aborted) return;
  if (error) {
    DiagnosticLog::Line(m_name + ": accept failed: " + error.message());
    m_retry.expires_after(kAcceptRetryDelay);
    m_retry.async_wait([this](const boost::system::error_code& waitError) {
      if (!waitError) Accept();
    });
    return;
  }
  boost::system::error_code peerError;
  const boost::asio::ip::tcp::endpoint peer = socket.remote_endpoint(peerError);
  // A client that has already reset the connection has no peer address any
  // more; there is nothing to receive from it either.
  if (!peerError) {
    try {
      std::shared_ptr<Connection> connection = m_factory(std::move(socket), Describe(m_protocol, peer));
      m_connections.Add(connection);
      connection->Start();
    } catch (const std::exception& failure) {
      DiagnosticLog::Line(Describe(m_protocol, peer) + ": connection dropped: " + failure.what());
    }
  }
  Accept();
}

}  // namespace siem_sink
