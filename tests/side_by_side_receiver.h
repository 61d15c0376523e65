#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>

// A syslog receiver on 127.0.0.1, over TCP or TLS, that reads all its
// connections side by side, as syslog daemons do, and writes each line out
// as soon as it is complete, in one list across connections: the order a
// SIEM operator sees. It is slow on purpose (small reads with a pause after
// each, on one thread), so that what a client has written is still in the
// system's buffers when it makes its next connection. A connection the
// client has ended is closed once read to its end, as the daemons do.
class SideBySideReceiver {
 public:
  struct Tls {
    std::string certificatePem;
    std::string keyPem;
  };

  explicit SideBySideReceiver(std::optional<Tls> tls = std::nullopt)
      : m_acceptor(m_io, {boost::asio::ip::make_address("127.0.0.1"), 0}) {
    if (tls) {
      m_context.emplace(boost::asio::ssl::context::tls_server);
      m_context->use_certificate_chain(boost::asio::buffer(tls->certificatePem));
      m_context->use_private_key(boost::asio::buffer(tls->keyPem), boost::asio::ssl::context::pem);
    }
    Accept();
    m_thread = std::thread([this] { m_io.run(); });
  }
  ~SideBySideReceiver() {
    m_io.stop();
    m_thread.join();
  }

  std::string Port() const { return std::to_string(m_acceptor.local_endpoint().port()); }
  int Accepted() const {
    std::lock_guard lock(m_mutex);
    return m_accepted;
  }
  // Every line written out so far, without its line feed.
  std::vector<std::string> Lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
  }
  bool WaitForLines(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_lines.size() >= count; });
  }

 private:
  using Socket = boost::asio::ip::tcp::socket;
  using TlsStream = boost::asio::ssl::stream<Socket>;

  // A connection's read buffer and the start of a line not yet complete.
  struct Session {
    std::vector<char> buffer = std::vector<char>(4096);
    std::string partial;
  };

  void Accept() {
    m_acceptor.async_accept([this](const boost::system::error_code& error, Socket socket) {
      if (error) return;
      {
        std::lock_guard lock(m_mutex);
        ++m_accepted;
      }
      auto session = std::make_shared<Session>();
      if (m_context) {
        auto stream = std::make_shared<TlsStream>(std::move(socket), *m_context);
        stream->async_handshake(TlsStream::server, [this, stream, session](const boost::system::error_code& failed) {
          if (!failed) Read(stream, session);
        });
      } else {
        Read(std::make_shared<Socket>(std::move(socket)), session);
      }
      Accept();
    });
  }

  template <class Stream>
  void Read(const std::shared_ptr<Stream>& stream, const std::shared_ptr<Session>& session) {
    stream->async_read_some(boost::asio::buffer(session->buffer), [this, stream, session](
                                                                       const boost::system::error_code& error,
                                                                       std::size_t size) {
      WriteOut(*session, size);
      if (error) {
        // The client's end, or a failure: closed, as a daemon does.
        boost::system::error_code ignored;
        stream->lowest_layer().close(ignored);
        return;
      }
      // The receiver's slowness: every connection waits its turn behind it.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      Read(stream, session);
    });
  }

  void WriteOut(Session& session, std::size_t size) {
    session.partial.append(session.buffer.data(), size);
    std::vector<std::string> complete;
    std::size_t begin = 0;
    for (std::size_t end; (end = session.partial.find('\n', begin)) != std::string::npos; begin = end + 1) {
      complete.emplace_back(session.partial, begin, end - begin);
    }
    session.partial.erase(0, begin);
    if (complete.empty()) return;
    {
      std::lock_guard lock(m_mutex);
      m_lines.insert(m_lines.end(), complete.begin(), complete.end());
    }
    m_changed.notify_all();
  }

  boost::asio::io_context m_io;
  std::optional<boost::asio::ssl::context> m_context;
  boost::asio::ip::tcp::acceptor m_acceptor;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  int m_accepted = 0;
  std::vector<std::string> m_lines;
  std::thread m_thread;
};
