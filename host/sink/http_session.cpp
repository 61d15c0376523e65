#include "host/sink/http_session.h"

#include <string_view>
#include <utility>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include "host/sink/diagnostic_log.h"
#include "host/sink/gzip_inflater.h"
#include "host/sink/line_splitter.h"

namespace siem_sink {
namespace {

namespace http = boost::beast::http;

// Generous for any client's headers, small enough for a garbage sender.
constexpr std::uint32_t kMaxHeaderBytes = 64 * 1024;

constexpr unsigned kBadRequest = 400;
constexpr unsigned kMethodNotAllowed = 405;
constexpr unsigned kPayloadTooLarge = 413;
constexpr unsigned kUnsupportedMediaType = 415;
constexpr unsigned kContinue = 100;

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Whether the body is gzip; none when the encoding is one the sink does not
// know, whose body it could only write as garbage.
std::optional<bool> IsGzip(std::string_view contentEncoding) {
  const std::string_view encoding = Trim(contentEncoding);
  if (encoding.empty() || boost::beast::iequals(encoding, "identity")) return false;
  if (boost::beast::iequals(encoding, "gzip") || boost::beast::iequals(encoding, "x-gzip")) return true;
  return std::nullopt;
}

}  // namespace

template <class Stream>
HttpSession<Stream>::HttpSession(Stream stream, Protocol protocol, std::string peer, EventWriter& writer,
                                 unsigned status, HttpAccess& access)
    : m_stream(std::move(stream)),
      m_protocol(protocol),
      m_peer(std::move(peer)),
      m_writer(writer),
      m_connection(writer.NextConnection()),
      m_status(status),
      m_access(access) {}

template <class Stream>
void HttpSession<Stream>::Start() {
  boost::asio::post(m_stream.get_executor(), [self = this->shared_from_this()] { self->Begin(); });
}

template <class Stream>
void HttpSession<Stream>::Stop() {
  boost::asio::post(m_stream.get_executor(), [self = this->shared_from_this()] { self->OnStop(); });
}

template <class Stream>
void HttpSession<Stream>::OnStop() {
  m_stopping = true;
  // An answer on its way finishes first: its events are written, and the
  // client should learn so. Any other state has no event in hand: a request
  // cut short is not answered, and its client sends it again.
  if (!m_writing) Close();
}

template <class Stream>
void HttpSession<Stream>::Begin() {
  if (m_stopping) {
    Close();
    return;
  }
  if constexpr (kTls) {
    m_stream.async_handshake(boost::asio::ssl::stream_base::server,
                             [self = this->shared_from_this()](const boost::system::error_code& error) {
                               self->OnHandshake(error);
                             });
  } else {
    ReadHeader();
  }
}

template <class Stream>
void HttpSession<Stream>::OnHandshake(const boost::system::error_code& error) {
  if (m_stopping || m_closed) return Close();
  if (error) {
    DiagnosticLog::Line(m_peer + ": TLS handshake failed: " + error.message());
    return Close();
  }
  ReadHeader();
}

template <class Stream>
void HttpSession<Stream>::ReadHeader() {
  if (m_stopping || m_closed) return Close();
  m_parser.emplace();
  m_refusal = 0;
  m_parser->header_limit(kMaxHeaderBytes);
  m_parser->body_limit(kMaxBodyBytes);
  http::async_read_header(m_stream, m_buffer, *m_parser,
                          [self = this->shared_from_this()](const boost::system::error_code& error, std::size_t) {
                            self->OnHeader(error);
                          });
}

template <class Stream>
void HttpSession<Stream>::OnHeader(const boost::system::error_code& error) {
  if (m_stopping || m_closed) return Close();
  if (error) return OnReadError(error);
  const auto& request = m_parser->get();
  // The body of a refused request is never read, so the connection cannot
  // go on after the answer.
  if (request.method() != http::verb::post) {
    DiagnosticLog::Line(m_peer + ": " + std::string(request.method_string()) + " " +
                        std::string(request.target()) + " refused: only POST carries events");
    return Respond(kMethodNotAllowed, false);
  }
  const bool expectsContinue = boost::beast::iequals(Trim(request[http::field::expect]), "100-continue");
  if (const HttpAccess::Verdict verdict = m_access.Check(request); verdict.status != 0) {
    DiagnosticLog::Line(m_peer + ": POST " + std::string(request.target()) + " refused: " + verdict.reason);
    // The body is read and dropped, so that the answer is not lost to a
    // reset for unread bytes, and the connection goes on. A client waiting
    // for "100 Continue" sends no body: it gets the answer, and the
    // connection closes.
    if (expectsContinue) return Respond(verdict.status, false);
    m_refusal = verdict.status;
    return ReadBody();
  }
  const std::optional<bool> gzip = IsGzip(request[http::field::content_encoding]);
  if (!gzip) {
    DiagnosticLog::Line(m_peer + ": POST refused: unsupported Content-Encoding '" +
                        std::string(request[http::field::content_encoding]) + "'");
    return Respond(kUnsupportedMediaType, false);
  }
  m_gzip = *gzip;
  // A client that waits to hear it may send the body (libraries do for large
  // bodies) would otherwise stall until its own timeout.
  if (expectsContinue) {
    return Respond(kContinue, true, &HttpSession::ReadBody);
  }
  ReadBody();
}

template <class Stream>
void HttpSession<Stream>::ReadBody() {
  if (m_stopping || m_closed) return Close();
  http::async_read(m_stream, m_buffer, *m_parser,
                   [self = this->shared_from_this()](const boost::system::error_code& error, std::size_t) {
                     self->OnBody(error);
                   });
}

template <class Stream>
void HttpSession<Stream>::OnBody(const boost::system::error_code& error) {
  if (m_stopping || m_closed) return Close();
  if (error) return OnReadError(error);
  TakeEvents();
}

template <class Stream>
void HttpSession<Stream>::OnReadError(const boost::system::error_code& error) {
  // The client closed between requests: the normal end of a kept-alive
  // connection.
  if (error == http::error::end_of_stream ||
      (!m_parser->got_some() &&
       (error == boost::asio::error::eof || error == boost::asio::ssl::error::stream_truncated))) {
    return Close();
  }
  if (error == http::error::body_limit) {
    DiagnosticLog::Line(m_peer + ": POST refused: body larger than " + std::to_string(kMaxBodyBytes) + " bytes");
    return Respond(kPayloadTooLarge, false);
  }
  // A request that is not HTTP: answered, since the client may be waiting,
  // then the connection is closed, since nothing after it can be trusted.
  // A client gone in the middle of a request gets no answer.
  if (error.category() == http::make_error_code(http::error::bad_method).category() &&
      error != http::error::partial_message) {
    DiagnosticLog::Line(m_peer + ": bad request: " + error.message());
    return Respond(kBadRequest, false);
  }
  DiagnosticLog::Line(m_peer + ": connection ended: " + error.message());
  Close();
}

template <class Stream>
void HttpSession<Stream>::TakeEvents() {
  const bool keepAlive = m_parser->get().keep_alive();
  if (m_refusal != 0) return Respond(m_refusal, keepAlive);
  std::string body = std::move(m_parser->get().body());
  if (m_gzip) {
    std::string inflated;
    switch (GzipInflater::Inflate(body, kMaxBodyBytes, inflated)) {
      case GzipInflater::Result::kInflated:
        body = std::move(inflated);
        break;
      case GzipInflater::Result::kInvalid:
        DiagnosticLog::Line(m_peer + ": POST refused: the body is not valid gzip");
        return Respond(kBadRequest, keepAlive);
      case GzipInflater::Result::kTooLarge:
        DiagnosticLog::Line(m_peer + ": POST refused: the body inflates to more than " +
                            std::to_string(kMaxBodyBytes) + " bytes");
        return Respond(kPayloadTooLarge, keepAlive);
    }
  }
  LineSplitter splitter(kMaxBodyBytes);
  std::string batch;
  batch.reserve(body.size() + 1);
  std::uint64_t events = splitter.Feed(body, batch);
  events += splitter.Finish(batch);
  if (m_status / 100 == 2) m_writer.Write(m_protocol, batch, events, m_connection);
  Respond(m_status, keepAlive);
}

template <class Stream>
void HttpSession<Stream>::Respond(unsigned status, bool keepAlive, void (HttpSession::*then)()) {
  // The request's version when its header was read, HTTP/1.1 otherwise.
  const unsigned version = m_parser && m_parser->is_header_done() ? m_parser->get().version() : 11;
  if (status != kContinue) m_parser.reset();  // a body of up to 64 MiB is not kept while idle
  m_response = Response(static_cast<http::status>(status), version);
  if (status == kMethodNotAllowed) m_response.set(http::field::allow, "POST");
  if (status != kContinue) {
    m_response.keep_alive(keepAlive);
    m_response.prepare_payload();
  }
  m_writing = true;
  http::async_write(m_stream, m_response,
                    [self = this->shared_from_this(), keepAlive, then](const boost::system::error_code& error,
                                                                      std::size_t) {
                      self->m_writing = false;
                      if (error) {
                        DiagnosticLog::Line(self->m_peer + ": answer not sent: " + error.message());
                        return self->Close();
                      }
                      if (!keepAlive || self->m_stopping) return self->Close();
                      ((*self).*then)();
                    });
}

template <class Stream>
void HttpSession<Stream>::Close() {
  if (m_closed) return;
  m_closed = true;
  boost::system::error_code ignored;
  // The answer just written reaches the client before the close does.
  m_stream.lowest_layer().shutdown(boost::asio::socket_base::shutdown_send, ignored);
  m_stream.lowest_layer().close(ignored);
}

template class HttpSession<boost::asio::ip::tcp::socket>;
template class HttpSession<boost::asio::ssl::stream<boost::asio::ip::tcp::socket>>;

}  // namespace siem_sink
