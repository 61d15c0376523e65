#include "host/sink/stream_session.h"

#include <utility>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/error.hpp>

#include "host/sink/diagnostic_log.h"

namespace siem_sink {
namespace {

// Far beyond any event; a bound so that a client that never sends a line
// feed cannot make the sink hold its bytes without end.
constexpr std::size_t kMaxLineBytes = 64 * 1024 * 1024;
// What a stopping session still reads of what has already arrived. The
// socket's receive buffer holds far less; the bound keeps a client that
// sends without pause from holding the stop up.
constexpr std::size_t kMaxDrainBytes = 16 * 1024 * 1024;

// Ends a client may choose without anything having gone wrong: a TCP close,
// a TLS close_notify, or a TLS client that closed its socket without one.
bool IsOrderlyEnd(const boost::system::error_code& error) {
  return error == boost::asio::error::eof || error == boost::asio::ssl::error::stream_truncated;
}

}  // namespace

template <class Stream>
StreamSession<Stream>::StreamSession(Stream stream, Protocol protocol, std::string peer, EventWriter& writer)
    : m_stream(std::move(stream)),
      m_protocol(protocol),
      m_peer(std::move(peer)),
      m_writer(writer),
      m_connection(writer.NextConnection()),
      m_splitter(kMaxLineBytes) {}

template <class Stream>
void StreamSession<Stream>::Start() {
  // Onto the session's strand: Stop may already be on its way there.
  boost::asio::post(m_stream.get_executor(), [self = this->shared_from_this()] { self->Begin(); });
}

template <class Stream>
void StreamSession<Stream>::Stop() {
  boost::asio::post(m_stream.get_executor(), [self = this->shared_from_this()] { self->OnStop(); });
}

template <class Stream>
void StreamSession<Stream>::Begin() {
  if (m_stopping) {
    Close();
    return;
  }
  if constexpr (kTls) {
    m_state = State::kHandshaking;
    m_stream.async_handshake(boost::asio::ssl::stream_base::server,
                             [self = this->shared_from_this()](const boost::system::error_code& error) {
                               self->OnHandshake(error);
                             });
  } else {
    Read();
  }
}

template <class Stream>
void StreamSession<Stream>::OnHandshake(const boost::system::error_code& error) {
  if (m_stopping) {
    Close();
    return;
  }
  if (error) {
    DiagnosticLog::Line(m_peer + ": TLS handshake failed: " + error.message());
    Close();
    return;
  }
  Read();
}

template <class Stream>
void StreamSession<Stream>::Read() {
  m_state = State::kReading;
  m_stream.async_read_some(boost::asio::buffer(m_buffer),
                           [self = this->shared_from_this()](const boost::system::error_code& error,
                                                             std::size_t size) { self->OnRead(error, size); });
}

template <class Stream>
void StreamSession<Stream>::OnRead(const boost::system::error_code& error, std::size_t size) {
  if (size > 0 && !Deliver(std::string_view(m_buffer.data(), size))) return;
  if (m_stopping && (!error || error == boost::asio::error::operation_aborted)) {
    Drain();
    return;
  }
  if (error) {
    End(error);
    return;
  }
  Read();
}

template <class Stream>
void StreamSession<Stream>::OnStop() {
  m_stopping = true;
  switch (m_state) {
    case State::kNew:
      // Begin is still to come and closes.
      break;
    case State::kHandshaking:
      // No event can have come yet.
      Close();
      break;
    case State::kReading: {
      // The pending read ends with operation_aborted (or with bytes, when it
      // had already completed), and OnRead drains.
      boost::system::error_code ignored;
      m_stream.lowest_layer().cancel(ignored);
      break;
    }
    case State::kClosed:
      break;
  }
}

template <class Stream>
void StreamSession<Stream>::Drain() {
  // What the client sent before the stop is in the socket's receive buffer
  // (and, for TLS, partly in the TLS layer): it is read without waiting for
  // more, so that a client that sent and closed just before the signal
  // loses nothing.
  boost::system::error_code error;
  m_stream.lowest_layer().non_blocking(true, error);
  std::size_t drained = 0;
  while (!error && drained < kMaxDrainBytes) {
    const std::size_t size = m_stream.read_some(boost::asio::buffer(m_buffer), error);
    if (size > 0 && !Deliver(std::string_view(m_buffer.data(), size))) return;
    drained += size;
  }
  if (error == boost::asio::error::would_block) error = {};
  End(error);
}

template <class Stream>
bool StreamSession<Stream>::Deliver(std::string_view bytes) {
  m_batch.clear();
  const std::uint64_t events = m_splitter.Feed(bytes, m_batch);
  m_writer.Write(m_protocol, m_batch, events, m_connection);
  if (m_splitter.Overflowed()) {
    DiagnosticLog::Line(m_peer + ": a line longer than " + std::to_string(kMaxLineBytes) +
                        " bytes; connection closed");
    Close();
    return false;
  }
  return true;
}

template <class Stream>
void StreamSession<Stream>::End(const boost::system::error_code& error) {
  m_batch.clear();
  const std::uint64_t events = m_splitter.Finish(m_batch);
  m_writer.Write(m_protocol, m_batch, events, m_connection);
  if (error && !IsOrderlyEnd(error)) {
    DiagnosticLog::Line(m_peer + ": connection ended: " + error.message());
  }
  Close();
}

template <class Stream>
void StreamSession<Stream>::Close() {
  m_state = State::kClosed;
  boost::system::error_code ignored;
  m_stream.lowest_layer().close(ignored);
}

template class StreamSession<boost::asio::ip::tcp::socket>;
template class StreamSession<boost::asio::ssl::stream<boost::asio::ip::tcp::socket>>;

}  // namespace siem_sink
