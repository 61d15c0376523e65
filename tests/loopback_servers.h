#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio.hpp>

#include "received_bytes.h"

// A TCP server on 127.0.0.1 that collects what it receives, for tests. It
// closes a connection the client has ended; it can hang up after each
// message (saying something first, or not), or accept and never read.
class LoopbackTcpServer {
 public:
  enum class Mode { kRead, kHangUpAfterRead, kAnswerAndHangUpAfterRead, kNeverRead };

  // On `port`, or on a free one when it is 0.
  explicit LoopbackTcpServer(Mode mode = Mode::kRead, unsigned short port = 0)
      : m_mode(mode), m_acceptor(m_io, {boost::asio::ip::make_address("127.0.0.1"), port}) {
    Accept();
    m_thread = std::thread([this] { m_io.run(); });
  }
  ~LoopbackTcpServer() {
    m_io.stop();
    m_thread.join();
  }

  std::string Port() const { return std::to_string(m_acceptor.local_endpoint().port()); }
  int Accepted() const { return m_accepted; }
  std::string Received() const { return m_received.Bytes(); }
  // Waits until `size` bytes have arrived.
  bool WaitFor(std::size_t size, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    return m_received.WaitFor(size, timeout);
  }

 private:
  void Accept() {
    m_acceptor.async_accept([this](const boost::system::error_code& error, boost::asio::ip::tcp::socket socket) {
      if (error) return;
      const std::size_t connection = m_accepted++;
      auto peer = std::make_shared<boost::asio::ip::tcp::socket>(std::move(socket));
      m_peers.push_back(peer);
      if (m_mode != Mode::kNeverRead) Read(peer, connection);
      Accept();
    });
  }
  void Read(const std::shared_ptr<boost::asio::ip::tcp::socket>& peer, std::size_t connection) {
    auto buffer = std::make_shared<std::vector<char>>(64 * 1024);
    peer->async_read_some(boost::asio::buffer(*buffer), [this, peer, buffer, connection](
                                                            const boost::system::error_code& error, std::size_t n) {
      if (error) {
        // The client's end: closed, as a syslog daemon does (the client
        // waits for it at the end of a pass).
        boost::system::error_code ignored;
        peer->close(ignored);
        return;
      }
      const bool hangUp = m_mode == Mode::kHangUpAfterRead || m_mode == Mode::kAnswerAndHangUpAfterRead;
      if (hangUp) {
        // Hung up before the test hears of the message.
        boost::system::error_code ignored;
        if (m_mode == Mode::kAnswerAndHangUpAfterRead) boost::asio::write(*peer, boost::asio::buffer("bye\n", 4), ignored);
        peer->shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
        peer->close(ignored);
      }
      m_received.Append(connection, buffer->data(), n);
      if (!hangUp) Read(peer, connection);
    });
  }

  const Mode m_mode;
  boost::asio::io_context m_io;
  boost::asio::ip::tcp::acceptor m_acceptor;
  std::vector<std::shared_ptr<boost::asio::ip::tcp::socket>> m_peers;
  std::atomic<int> m_accepted{0};
  ReceivedBytes m_received;
  std::thread m_thread;
};

// A UDP socket on 127.0.0.1 that collects datagrams.
class LoopbackUdpServer {
 public:
  LoopbackUdpServer() : m_socket(m_io, {boost::asio::ip::make_address("127.0.0.1"), 0}) {}

  std::string Port() const { return std::to_string(m_socket.local_endpoint().port()); }
  // The next datagram, or an empty string after the timeout.
  std::string Receive(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::string datagram(65536, '\0');
    std::size_t size = 0;
    bool done = false;
    m_socket.async_receive(boost::asio::buffer(datagram), [&](const boost::system::error_code& error, std::size_t n) {
      done = !error;
      size = n;
    });
    m_io.restart();
    m_io.run_for(timeout);
    if (!done) {
      m_socket.cancel();
      m_io.restart();
      m_io.run();
      return {};
    }
    datagram.resize(size);
    return datagram;
  }

 private:
  boost::asio::io_context m_io;
  boost::asio::ip::udp::socket m_socket;
};
