#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

// An HTTP/1.1 server on a loopback address for tests, plain or TLS: it
// records each request and answers it as its handler says, or holds it
// unanswered.
class LoopbackHttpServer {
 public:
  struct Request {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    std::string Header(std::string_view name) const {
      for (const auto& [key, value] : headers) {
        if (boost::beast::iequals(key, name)) return value;
      }
      return {};
    }
  };
  struct Response {
    unsigned status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Never answered; the connection stays open.
    bool hold = false;
    // After the header, in place of `body`: a body announced as a gigabyte
    // that never ends (written until the client goes), or that stops after
    // its first bytes and never comes whole.
    enum class Trickle { kNone, kEndless, kStalled };
    Trickle trickle = Trickle::kNone;

    static Response With(unsigned status, std::string body = {},
                         std::vector<std::pair<std::string, std::string>> headers = {}) {
      Response response;
      response.status = status;
      response.body = std::move(body);
      response.headers = std::move(headers);
      return response;
    }
  };
  using Handler = std::function<Response(const Request&)>;

  struct Options {
    Handler handler = [](const Request&) { return Response{}; };
    std::string address = "127.0.0.1";
    // TLS when set.
    std::string certificatePem;
    std::string keyPem;
    // Before the TLS handshake's answer: a slow server.
    std::chrono::milliseconds handshakeDelay{0};
  };

  // A plain server answering as `handler` says.
  explicit LoopbackHttpServer(Handler handler) : LoopbackHttpServer(Plain(std::move(handler))) {}

  explicit LoopbackHttpServer(Options options)
      : m_handler(std::move(options.handler)),
        m_handshakeDelay(options.handshakeDelay),
        m_acceptor(m_io, {boost::asio::ip::make_address(options.address), 0}) {
    if (!options.certificatePem.empty()) {
      m_tls.emplace(boost::asio::ssl::context::tls_server);
      m_tls->use_certificate_chain(boost::asio::buffer(options.certificatePem));
      m_tls->use_private_key(boost::asio::buffer(options.keyPem), boost::asio::ssl::context::pem);
    }
    boost::asio::co_spawn(m_io, Accept(), boost::asio::detached);
    m_thread = std::thread([this] { m_io.run(); });
  }
  ~LoopbackHttpServer() {
    m_io.stop();
    m_thread.join();
  }

  unsigned short Port() const { return m_acceptor.local_endpoint().port(); }
  std::string Url(std::string_view path = "/") const {
    return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(Port()) + std::string(path);
  }

  std::vector<Request> Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
  }
  bool WaitForRequests(std::size_t count, std::chrono::seconds timeout = std::chrono::seconds(10)) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
  }

 private:
  using Socket = boost::asio::ip::tcp::socket;

  static Options Plain(Handler handler) {
    Options options;
    options.handler = std::move(handler);
    return options;
  }

  boost::asio::awaitable<void> Accept() {
    for (;;) {
      Socket socket = co_await m_acceptor.async_accept(boost::asio::use_awaitable);
      boost::asio::co_spawn(m_io, Session(std::move(socket)), boost::asio::detached);
    }
  }

  boost::asio::awaitable<void> Session(Socket socket) {
    try {
      if (m_tls) {
        boost::asio::ssl::stream<Socket> stream(std::move(socket), *m_tls);
        if (m_handshakeDelay.count() > 0) {
          boost::asio::steady_timer delay(stream.get_executor(), m_handshakeDelay);
          co_await delay.async_wait(boost::asio::use_awaitable);
        }
        co_await stream.async_handshake(boost::asio::ssl::stream_base::server, boost::asio::use_awaitable);
        co_await Serve(stream);
      } else {
        co_await Serve(socket);
      }
    } catch (const std::exception&) {
      // The client went away, or its handshake failed: nothing to answer.
    }
  }

  template <class Stream>
  boost::asio::awaitable<void> Serve(Stream& stream) {
    namespace http = boost::beast::http;
    boost::beast::flat_buffer buffer;
    for (;;) {
      http::request<http::string_body> in;
      co_await http::async_read(stream, buffer, in, boost::asio::use_awaitable);
      Request request{std::string(in.method_string()), std::string(in.target()), {}, in.body()};
      for (const auto& field : in) request.headers.emplace_back(field.name_string(), field.value());
      const Response response = m_handler(request);
      {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(std::move(request));
      }
      m_changed.notify_all();

      if (response.hold) {
        boost::asio::steady_timer forever(stream.get_executor(), boost::asio::steady_timer::time_point::max());
        co_await forever.async_wait(boost::asio::use_awaitable);
      }
      if (response.trickle != Response::Trickle::kNone) {
        const std::string head = "HTTP/1.1 " + std::to_string(response.status) + " OK\r\nContent-Length: 1000000000\r\n\r\n";
        co_await boost::asio::async_write(stream, boost::asio::buffer(head), boost::asio::use_awaitable);
        const std::string chunk(64 * 1024, 'x');
        boost::asio::steady_timer pause(stream.get_executor());
        if (response.trickle == Response::Trickle::kStalled) {
          co_await boost::asio::async_write(stream, boost::asio::buffer(chunk.data(), 10), boost::asio::use_awaitable);
          pause.expires_at(boost::asio::steady_timer::time_point::max());
          co_await pause.async_wait(boost::asio::use_awaitable);
        }
        // Until the client goes: the write then fails and ends the session.
        for (;;) {
          co_await boost::asio::async_write(stream, boost::asio::buffer(chunk), boost::asio::use_awaitable);
          pause.expires_after(std::chrono::milliseconds(2));
          co_await pause.async_wait(boost::asio::use_awaitable);
        }
      }
      http::response<http::string_body> out{static_cast<http::status>(response.status), in.version()};
      for (const auto& [name, value] : response.headers) out.set(name, value);
      out.body() = response.body;
      out.keep_alive(in.keep_alive());
      out.prepare_payload();
      co_await http::async_write(stream, out, boost::asio::use_awaitable);
      if (!in.keep_alive()) co_return;
    }
  }

  const Handler m_handler;
  const std::chrono::milliseconds m_handshakeDelay;
  // Before the I/O context: sessions it still holds at destruction use it.
  std::optional<boost::asio::ssl::context> m_tls;
  boost::asio::io_context m_io;
  boost::asio::ip::tcp::acceptor m_acceptor;
  std::thread m_thread;
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::vector<Request> m_requests;
};
