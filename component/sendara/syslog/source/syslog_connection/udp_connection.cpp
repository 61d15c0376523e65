#include "component/sendara/syslog/source/syslog_connection/udp_connection.h"


#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::syslog {

using base::TraceLevel;
using boost::asio::ip::udp;

std::shared_ptr<UdpConnection> UdpConnection::Create(oru::RefPtr<oru::ITracer> tracer, const Pool& pool,
                                                     const SyslogServer& server,
                                                     const SyslogClientSettings& settings) {
  return std::shared_ptr<UdpConnection>(new UdpConnection(std::move(tracer), pool, server, settings));
}

UdpConnection::UdpConnection(oru::RefPtr<oru::ITracer> tracer, const Pool& pool, const SyslogServer& server,
                             const SyslogClientSettings& settings)
    : BaseConnection(std::move(tracer), pool, server, settings), m_resolver(m_strand), m_socket(m_strand) {}

void UdpConnection::DoConnect(std::shared_ptr<MinimumPromise> promise) {
  // Only fixes the default peer of the socket.
  ResolveAndConnect(
      m_resolver, m_socket, promise, "Resolve error:",
      [self = std::static_pointer_cast<UdpConnection>(shared_from_this()), promise](const udp::endpoint& endpoint) {
        SENDARA_TRACE(self->m_tracer, TraceLevel::kInfo, "Connect: " << endpoint);
        promise->SetValue();
      },
      [] {});
}

void UdpConnection::WriteFront() {
  auto self = std::static_pointer_cast<UdpConnection>(shared_from_this());
  const auto& payload = *m_messages.front().first;
  m_socket.async_send(payload.Buffers(), [self](const boost::system::error_code& error, std::size_t) {
    self->HandleWritten(error, true);
  });
}

void UdpConnection::DoClose() {
  boost::system::error_code ignored;
  m_resolver.cancel();
  m_socket.close(ignored);
  CloseFinished();
}

}  // namespace sendara::syslog
