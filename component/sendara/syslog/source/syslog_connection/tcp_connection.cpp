#include "component/sendara/syslog/source/syslog_connection/tcp_connection.h"

#include <limits>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::syslog {

using base::TraceLevel;
using boost::asio::ip::tcp;

namespace {

// Everything, in as few socket writes as the send buffer allows. The
// library's own transfer_all hands at most 64 KB to each write: a package of
// events would take a couple of dozen writes, each completed through the
// strand, where one or two do.
std::size_t TransferAllAtOnce(const boost::system::error_code& error, std::size_t) {
  return error ? 0 : std::numeric_limits<std::size_t>::max();
}

}  // namespace

std::shared_ptr<TcpConnection> TcpConnection::Create(oru::RefPtr<oru::ITracer> tracer, const Pool& pool,
                                                     const SyslogServer& server,
                                                     const SyslogClientSettings& settings) {
  return std::shared_ptr<TcpConnection>(new TcpConnection(std::move(tracer), pool, server, settings));
}

TcpConnection::TcpConnection(oru::RefPtr<oru::ITracer> tracer, const Pool& pool, const SyslogServer& server,
                             const SyslogClientSettings& settings)
    : BaseConnection(std::move(tracer), pool, server, settings),
      m_resolver(m_strand),
      m_socket(m_strand) {}

void TcpConnection::DoConnect(std::shared_ptr<MinimumPromise> promise) {
  ResolveAndConnect(
      m_resolver, m_socket, promise, "Resolve error:",
      [self = std::static_pointer_cast<TcpConnection>(shared_from_this()), promise](const tcp::endpoint& endpoint) {
        SENDARA_TRACE(self->m_tracer, TraceLevel::kInfo, "Connect: " << endpoint);
        self->m_connected = true;
        promise->SetValue();
      },
      [] {});
}

void TcpConnection::WriteFront() {
  auto self = std::static_pointer_cast<TcpConnection>(shared_from_this());
  const auto& payload = *m_messages.front().first;
  boost::asio::async_write(m_socket, payload.Buffers(), TransferAllAtOnce,
                           [self](const boost::system::error_code& error, std::size_t) {
                             self->HandleWritten(error, false);
                           });
}

void TcpConnection::DoClose() {
  boost::system::error_code ignored;
  m_resolver.cancel();
  if (!m_connected || !m_socket.is_open()) {
    // Resolving or connecting: aborted at once.
    m_socket.close(ignored);
    CloseFinished();
    return;
  }
  // A write still under way is aborted (its messages fail and are kept by
  // the caller); what was written goes out before our FIN, and the close is
  // done when the server has read everything and closed its side, or when
  // the request time-out has run out.
  EndStreamInOrder(m_socket, CloseAfterRequestTimeout(m_socket));
}

bool TcpConnection::PeerAlive() {
  if (!m_socket.is_open()) return false;
  boost::system::error_code error;
  // Set once: the flag stays with the socket, and setting it is a system call.
  if (!m_socket.non_blocking()) {
    m_socket.non_blocking(true, error);
    if (error) return false;
  }
  // What a server says is read and dropped: left unread, it would hide the
  // end of the stream behind it from every later look. Nothing (more) to
  // read is the normal state; the end of the stream or an error means the
  // peer is gone. A server that keeps talking is alive, and is not read
  // without end here.
  char discarded[4096];
  for (int reads = 0; reads < 16; ++reads) {
    const std::size_t read = m_socket.receive(boost::asio::buffer(discarded), 0, error);
    if (error == boost::asio::error::would_block) return true;
    if (error || read == 0) return false;
  }
  return true;
}

}  // namespace sendara::syslog
