#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>

#include "host/sink/connection.h"
#include "host/sink/event_writer.h"
#include "host/sink/http_access.h"
#include "host/sink/protocol.h"

namespace siem_sink {

// One HTTP/1.1 connection, plain or over TLS, kept alive for as many
// requests as the client sends. Each POST body (inflated when gzip) holds
// events separated by line feeds; the answer carries the configured status
// and no body, and comes after the events are written, so a client that
// got it knows they are in the output. Every handler runs on the strand of
// the stream's socket.
//
// Instantiated for boost::asio::ip::tcp::socket and
// boost::asio::ssl::stream<boost::asio::ip::tcp::socket> (http_session.cpp).
template <class Stream>
class HttpSession final : public Connection, public std::enable_shared_from_this<HttpSession<Stream>> {
 public:
  // Bodies, sent or inflated, larger than this are refused (413).
  static constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;

  // `status` answers every POST that is taken; its events are written only
  // when it is a success (2xx): a client told otherwise sends them again.
  // A POST that `access` refuses gets its status, and its events are
  // dropped.
  HttpSession(Stream stream, Protocol protocol, std::string peer, EventWriter& writer, unsigned status,
              HttpAccess& access);

  void Start() override;
  void Stop() override;

 private:
  static constexpr bool kTls = !std::is_same_v<Stream, boost::asio::ip::tcp::socket>;
  using Parser = boost::beast::http::request_parser<boost::beast::http::string_body>;
  using Response = boost::beast::http::response<boost::beast::http::empty_body>;

  void Begin();
  void OnHandshake(const boost::system::error_code& error);
  void ReadHeader();
  void OnHeader(const boost::system::error_code& error);
  void ReadBody();
  void OnBody(const boost::system::error_code& error);
  void OnReadError(const boost::system::error_code& error);
  void TakeEvents();
  // Answers with `status`; the connection closes afterwards unless
  // `keepAlive`. `then` runs after the answer went out on a kept connection.
  void Respond(unsigned status, bool keepAlive, void (HttpSession::*then)() = &HttpSession::ReadHeader);
  void OnStop();
  void Close();

  Stream m_stream;
  const Protocol m_protocol;
  const std::string m_peer;
  EventWriter& m_writer;
  const std::uint64_t m_connection;
  const unsigned m_status;
  HttpAccess& m_access;
  boost::beast::flat_buffer m_buffer;
  std::optional<Parser> m_parser;
  Response m_response;
  bool m_gzip = false;
  // The status the request in hand is refused with once its body is read;
  // 0 when it is taken.
  unsigned m_refusal = 0;
  bool m_writing = false;
  bool m_stopping = false;
  bool m_closed = false;
};

}  // namespace siem_sink
