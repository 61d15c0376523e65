#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio/buffer.hpp>
#include <boost/asio/ssl/context.hpp>

// An HTTPS server on 127.0.0.1 for tests that speaks TLS 1.2 only (TLS 1.3
// has no renegotiation) and, on its first connection, asks the client to
// renegotiate: when the second request on that connection has come, it sends
// a HelloRequest before answering it, and answers only if the renegotiation
// completed (else it drops the connection). Every other request, on any
// connection, is answered at once: 200 with the request's target as body,
// the connection kept.
//
// One thread serves the connections one after another, each over a blocking
// socket; a client that says nothing for ten seconds loses its connection.
class RenegotiatingHttpsServer {
 public:
  enum class Renegotiation {
    kNotAsked,
    // The client refused with a no_renegotiation alert; the connection was
    // dropped.
    kRefused,
    // The client went through a new handshake, certificate check included.
    kCompleted,
    // Anything else (the client went away, or a TLS error of another kind).
    kFailed,
  };
  friend void PrintTo(Renegotiation outcome, std::ostream* out) {
    constexpr const char* kNames[] = {"kNotAsked", "kRefused", "kCompleted", "kFailed"};
    *out << kNames[static_cast<int>(outcome)];
  }

  struct Request {
    int connection;  // numbered from 1 in order of accepting
    std::string target;
    bool operator==(const Request&) const = default;
    friend void PrintTo(const Request& request, std::ostream* out) {
      *out << "{" << request.connection << ", \"" << request.target << "\"}";
    }
  };

  RenegotiatingHttpsServer(const std::string& certificatePem, const std::string& keyPem)
      : m_context(boost::asio::ssl::context::tls_server) {
    m_context.use_certificate_chain(boost::asio::buffer(certificatePem));
    m_context.use_private_key(boost::asio::buffer(keyPem), boost::asio::ssl::context::pem);
    SSL_CTX* context = m_context.native_handle();
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
    // SSL_read returns after the renegotiation's handshake instead of
    // waiting for application data that the client never sends.
    SSL_CTX_clear_mode(context, SSL_MODE_AUTO_RETRY);
    // A renegotiation that resumed the session would send no certificate
    // and so need no check of it.
    SSL_CTX_set_options(context, SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);

    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0) throw std::runtime_error("no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(m_listener, 8) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      close(m_listener);
      throw std::runtime_error("the server could not listen");
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }

  ~RenegotiatingHttpsServer() {
    {
      // Wakes the thread from accept, or from a read of its connection.
      std::lock_guard lock(m_mutex);
      m_stopping = true;
      shutdown(m_listener, SHUT_RDWR);
      if (m_connection >= 0) shutdown(m_connection, SHUT_RDWR);
    }
    m_thread.join();
    close(m_listener);
  }

  RenegotiatingHttpsServer(const RenegotiatingHttpsServer&) = delete;
  RenegotiatingHttpsServer& operator=(const RenegotiatingHttpsServer&) = delete;

  std::string Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(m_port) + path;
  }

  // What became of the renegotiation asked for on the first connection.
  Renegotiation Outcome() const {
    std::lock_guard lock(m_mutex);
    return m_renegotiation;
  }
  // Every request read, in order, with the connection it came on.
  std::vector<Request> Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
  }

 private:
  void Serve() {
    for (int connection = 1;; ++connection) {
      const int accepted = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (accepted < 0) return;
      {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
          close(accepted);
          return;
        }
        m_connection = accepted;
      }
      const timeval timeout{10, 0};
      setsockopt(accepted, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
      if (SSL* ssl = SSL_new(m_context.native_handle())) {
        if (SSL_set_fd(ssl, accepted) == 1 && SSL_accept(ssl) == 1) ServeConnection(ssl, connection);
        SSL_free(ssl);
      }
      ERR_clear_error();
      {
        std::lock_guard lock(m_mutex);
        m_connection = -1;
      }
      close(accepted);
    }
  }

  void ServeConnection(SSL* ssl, int connection) {
    for (int request = 1;; ++request) {
      std::string target;
      if (!ReadRequest(ssl, target)) return;
      {
        std::lock_guard lock(m_mutex);
        m_requests.push_back({connection, target});
      }
      if (connection == 1 && request == 2) {
        const Renegotiation outcome = Renegotiate(ssl);
        {
          std::lock_guard lock(m_mutex);
          m_renegotiation = outcome;
        }
        if (outcome != Renegotiation::kCompleted) return;
      }
      const std::string response = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(target.size()) +
                                   "\r\nContent-Type: text/plain\r\n\r\n" + target;
      if (SSL_write(ssl, response.data(), static_cast<int>(response.size())) != static_cast<int>(response.size())) {
        return;
      }
    }
  }

  // Reads one request head (the client sends GET requests only, without a
  // body) and takes its target; false when the connection ended first.
  static bool ReadRequest(SSL* ssl, std::string& target) {
    std::string head;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (head.find("\r\n\r\n") == std::string::npos) {
      char buffer[4096];
      const int read = SSL_read(ssl, buffer, sizeof(buffer));
      if (read > 0) {
        head.append(buffer, static_cast<std::size_t>(read));
        continue;
      }
      // Without automatic retries a record other than application data
      // ends a read too.
      if (SSL_get_error(ssl, read) != SSL_ERROR_WANT_READ || std::chrono::steady_clock::now() > deadline) {
        return false;
      }
    }
    const std::size_t start = head.find(' ');
    const std::size_t end = start == std::string::npos ? start : head.find(' ', start + 1);
    if (end == std::string::npos) return false;
    target = head.substr(start + 1, end - start - 1);
    return true;
  }

  // Sends a HelloRequest and reads what the client answers with: a new
  // handshake, or a refusal.
  static Renegotiation Renegotiate(SSL* ssl) {
    ERR_clear_error();
    if (SSL_renegotiate(ssl) != 1 || SSL_do_handshake(ssl) != 1) return Renegotiation::kFailed;
    // Blocks until the client answers: its ClientHello, processed here
    // together with the whole handshake, or its no_renegotiation alert.
    char byte = 0;
    const int read = SSL_read(ssl, &byte, 1);
    if (read <= 0 && SSL_get_error(ssl, read) == SSL_ERROR_WANT_READ && !SSL_renegotiate_pending(ssl)) {
      return Renegotiation::kCompleted;
    }
    if (read <= 0 && ERR_GET_REASON(ERR_peek_error()) == SSL_R_NO_RENEGOTIATION) return Renegotiation::kRefused;
    return Renegotiation::kFailed;
  }

  boost::asio::ssl::context m_context;
  int m_listener = -1;
  unsigned short m_port = 0;
  std::thread m_thread;
  mutable std::mutex m_mutex;
  bool m_stopping = false;
  // The connection being served, -1 between connections.
  int m_connection = -1;
  Renegotiation m_renegotiation = Renegotiation::kNotAsked;
  std::vector<Request> m_requests;
};
