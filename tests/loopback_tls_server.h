#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>

#include "received_bytes.h"

// A TLS server on a loopback address that collects what it receives, for
// tests. Its certificate, the CA it checks client certificates against (none:
// no client certificate asked for) and the protocol versions it speaks are
// set at construction.
class LoopbackTlsServer {
 public:
  struct Options {
    std::string certificatePem;
    std::string keyPem;
    std::string clientCaPem;  // when set, a client certificate is required
    int minVersion = TLS1_2_VERSION;
    int maxVersion = TLS1_3_VERSION;
    std::string address = "127.0.0.1";
  };

  explicit LoopbackTlsServer(Options options)
      : m_context(boost::asio::ssl::context::tls_server),
        m_acceptor(m_io, {boost::asio::ip::make_address(options.address), 0}) {
    SSL_CTX* context = m_context.native_handle();
    if (options.minVersion <= TLS1_1_VERSION) SSL_CTX_set_security_level(context, 0);
    SSL_CTX_set_min_proto_version(context, options.minVersion);
    SSL_CTX_set_max_proto_version(context, options.maxVersion);
    m_context.use_certificate_chain(boost::asio::buffer(options.certificatePem));
    m_context.use_private_key(boost::asio::buffer(options.keyPem), boost::asio::ssl::context::pem);
    if (!options.clientCaPem.empty()) {
      m_context.add_certificate_authority(boost::asio::buffer(options.clientCaPem));
      m_context.set_verify_mode(boost::asio::ssl::verify_peer | boost::asio::ssl::verify_fail_if_no_peer_cert);
    }
    Accept();
    m_thread = std::thread([this] { m_io.run(); });
  }
  ~LoopbackTlsServer() {
    m_io.stop();
    m_thread.join();
  }

  std::string Port() const { return std::to_string(m_acceptor.local_endpoint().port()); }
  int Handshakes() const { return m_handshakes; }
  std::string Received() const { return m_received.Bytes(); }
  bool WaitFor(std::size_t size, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    return m_received.WaitFor(size, timeout);
  }
  // How the first connection that ended did end: "close_notify" for an
  // orderly TLS close, else the read error's text; empty while none ended.
  std::string WaitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    return m_received.WaitForEnd(timeout);
  }

 private:
  using Stream = boost::asio::ssl::stream<boost::asio::ip::tcp::socket>;

  void Accept() {
    m_acceptor.async_accept([this](const boost::system::error_code& error, boost::asio::ip::tcp::socket socket) {
      if (error) return;
      auto stream = std::make_shared<Stream>(std::move(socket), m_context);
      const std::size_t connection = m_streams.size();
      m_streams.push_back(stream);
      stream->async_handshake(Stream::server, [this, stream, connection](const boost::system::error_code& handshakeError) {
        if (handshakeError) return;
        ++m_handshakes;
        Read(stream, connection);
      });
      Accept();
    });
  }
  void Read(const std::shared_ptr<Stream>& stream, std::size_t connection) {
    auto buffer = std::make_shared<std::vector<char>>(64 * 1024);
    stream->async_read_some(boost::asio::buffer(*buffer),
                            [this, stream, buffer, connection](const boost::system::error_code& error, std::size_t n) {
                              if (error) {
                                m_received.SetEnd(error == boost::asio::error::eof ? "close_notify" : error.message());
                                boost::system::error_code ignored;
                                stream->lowest_layer().close(ignored);
                                return;
                              }
                              m_received.Append(connection, buffer->data(), n);
                              Read(stream, connection);
                            });
  }

  boost::asio::io_context m_io;
  boost::asio::ssl::context m_context;
  boost::asio::ip::tcp::acceptor m_acceptor;
  std::vector<std::shared_ptr<Stream>> m_streams;
  std::atomic<int> m_handshakes{0};
  ReceivedBytes m_received;
  std::thread m_thread;
};
