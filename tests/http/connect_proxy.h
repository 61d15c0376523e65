#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio.hpp>

// An HTTP proxy on a loopback address that knows CONNECT only, for tests:
// it records each request line, connects to the target and relays bytes both
// ways.
class ConnectProxy {
 public:
  // Port 0 takes any free port.
  explicit ConnectProxy(const std::string& address, unsigned short port = 0)
      : m_address(address), m_acceptor(m_io, {boost::asio::ip::make_address(address), port}) {
    boost::asio::co_spawn(m_io, Accept(), boost::asio::detached);
    m_thread = std::thread([this] { m_io.run(); });
  }
  ~ConnectProxy() {
    m_io.stop();
    m_thread.join();
  }

  // The proxy as a client's tunnel setting names it: "a.b.c.d:port" or
  // "[v6]:port".
  std::string Tunnel() const {
    const std::string port = std::to_string(m_acceptor.local_endpoint().port());
    return m_address.find(':') == std::string::npos ? m_address + ":" + port : "[" + m_address + "]:" + port;
  }
  std::vector<std::string> RequestLines() const {
    std::lock_guard lock(m_mutex);
    return m_requestLines;
  }

 private:
  using Socket = boost::asio::ip::tcp::socket;

  boost::asio::awaitable<void> Accept() {
    for (;;) {
      Socket socket = co_await m_acceptor.async_accept(boost::asio::use_awaitable);
      boost::asio::co_spawn(m_io, Session(std::make_shared<Socket>(std::move(socket))), boost::asio::detached);
    }
  }

  boost::asio::awaitable<void> Session(std::shared_ptr<Socket> client) {
    try {
      std::string head;
      const std::size_t headSize = co_await boost::asio::async_read_until(*client, boost::asio::dynamic_buffer(head),
                                                                          "\r\n\r\n", boost::asio::use_awaitable);
      const std::string line = head.substr(0, head.find("\r\n"));
      {
        std::lock_guard lock(m_mutex);
        m_requestLines.push_back(line);
      }
      // "CONNECT host:port HTTP/1.1", the host in brackets when IPv6.
      const std::size_t targetStart = line.find(' ') + 1;
      const std::string target = line.substr(targetStart, line.find(' ', targetStart) - targetStart);
      const std::size_t colon = target.rfind(':');
      std::string host = target.substr(0, colon);
      if (host.front() == '[') host = host.substr(1, host.size() - 2);
      if (!line.starts_with("CONNECT ")) {
        co_await boost::asio::async_write(*client, boost::asio::buffer(std::string_view("HTTP/1.1 405 No\r\n\r\n")),
                                          boost::asio::use_awaitable);
        co_return;
      }
      auto upstream = std::make_shared<Socket>(m_io);
      co_await upstream->async_connect(
          {boost::asio::ip::make_address(host), static_cast<unsigned short>(std::stoi(target.substr(colon + 1)))},
          boost::asio::use_awaitable);
      co_await boost::asio::async_write(
          *client, boost::asio::buffer(std::string_view("HTTP/1.1 200 Connection established\r\n\r\n")),
          boost::asio::use_awaitable);
      // Bytes the client sent behind the request head belong to the tunnel.
      if (head.size() > headSize) {
        co_await boost::asio::async_write(*upstream, boost::asio::buffer(head.substr(headSize)),
                                          boost::asio::use_awaitable);
      }
      boost::asio::co_spawn(m_io, Relay(client, upstream), boost::asio::detached);
      boost::asio::co_spawn(m_io, Relay(upstream, client), boost::asio::detached);
    } catch (const std::exception&) {
    }
  }

  static boost::asio::awaitable<void> Relay(std::shared_ptr<Socket> from, std::shared_ptr<Socket> to) {
    try {
      char buffer[16384];
      for (;;) {
        const std::size_t size = co_await from->async_read_some(boost::asio::buffer(buffer), boost::asio::use_awaitable);
        co_await boost::asio::async_write(*to, boost::asio::buffer(buffer, size), boost::asio::use_awaitable);
      }
    } catch (const std::exception&) {
      boost::system::error_code ignored;
      to->shutdown(Socket::shutdown_send, ignored);
    }
  }

  const std::string m_address;
  boost::asio::io_context m_io;
  boost::asio::ip::tcp::acceptor m_acceptor;
  std::thread m_thread;
  mutable std::mutex m_mutex;
  std::vector<std::string> m_requestLines;
};
