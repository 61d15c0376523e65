#include "component/sendara/syslog/source/syslog_connection/udp_connection.h"

#include <boost/asio/connect.hpp>

#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::syslog {

using base::TraceLevel;
using boost::asio::ip::udp;

std::shared_ptr<UdpConnection> UdpConnection::Create(oru::RefPtr<oru::ITracer> tracer, const Executor& executor,
                                                     const SyslogServer& server,
                                                     const SyslogClientSettings& settings) {
  return std::shared_ptr<UdpConnection>(new UdpConnection(std::move(tracer), executor, server, settings));
}

UdpConnection::UdpConnection(oru::RefPtr<oru::ITracer> tracer, const Executor& executor, const SyslogServer& server,
                             const SyslogClientSettings& settings)
    : BaseConnection(std::move(tracer), executor, server, settings), m_resolver(m_strand), m_socket(m_strand) {}

void UdpConnection::DoConnect(std::shared_ptr<MinimumPromise> promise) {
  auto self = std::static_pointer_cast<UdpConnection>(shared_from_this());
  m_resolver.async_resolve(
      m_host, m_port, [self, promise](const boost::system::error_code& error, udp::resolver::results_type endpoints) {
        if (error) {
          SENDARA_TRACE(self->m_tracer, TraceLevel::kError, "Resolve error:" << error.message());
          promise->SetException(self->ConnectionError(error, "Resolve error: "));
          return;
        }
        // Only fixes the default peer of the socket.
        boost::asio::async_connect(
            self->m_socket, endpoints,
            [self, promise](const boost::system::error_code& connectError, const udp::endpoint& endpoint) {
              if (connectError) {
                SENDARA_TRACE(self->m_tracer, TraceLevel::kError, "Connect error: " << connectError.message());
                promise->SetException(self->ConnectionError(connectError, "Connect error: "));
                return;
              }
              SENDARA_TRACE(self->m_tracer, TraceLevel::kInfo, "Connect: " << endpoint);
              promise->SetValue();
            });
      });
}

void UdpConnection::WriteFront() {
  auto self = std::static_pointer_cast<UdpConnection>(shared_from_this());
  const auto& bytes = m_messages.front().first;
  m_socket.async_send(boost::asio::buffer(bytes), [self](const boost::system::error_code& error, std::size_t) {
    self->HandleWritten(error, true);
  });
}

void UdpConnection::DoClose() {
  boost::system::error_code ignored;
  m_resolver.cancel();
  m_socket.close(ignored);
}

}  // namespace sendara::syslog
