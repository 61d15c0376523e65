#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/system/error_code.hpp>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/syslog/source/syslog_connection/i_syslog_connection.h"
#include "component/sendara/syslog/source/syslog_connection/minimum_promise.h"
#include "component/sendara/syslog/source/syslog_connection/syslog_client_settings.h"
#include "component/sendara/syslog/source/syslog_connection/syslog_server.h"

namespace sendara::syslog {

// What the connections share: the destination, the strand that serialises
// every handler of one connection on the client's pool, the queue of
// messages waiting to be written, and the blocking wait of the caller.
//
// Handlers hold the connection by shared pointer and the promise they
// complete, so a connection dropped with work pending is freed only after
// its last handler has run, and a handler that runs after its caller gave up
// completes a promise nobody waits on.
class BaseConnection : public ISyslogConnection, public std::enable_shared_from_this<BaseConnection> {
 public:
  static constexpr std::string_view kPeerClosed = "peer_closed";

  using Executor = boost::asio::thread_pool::executor_type;
  using Strand = boost::asio::strand<Executor>;
  // The client's I/O pool. Connections do not hold it (handlers abandoned in
  // a stopped pool hold their connection, and would keep the pool alive for
  // ever); the client drops it only once no send is under way.
  using Pool = std::shared_ptr<boost::asio::thread_pool>;

  void Connect(const base::StopToken& stopToken) override;
  void SendMessage(Payload bytes) override;
  void Close() noexcept override;
  bool WaitClosed(std::uint32_t timeoutMilliseconds) noexcept override;

 protected:
  BaseConnection(oru::RefPtr<oru::ITracer> tracer, const Pool& pool, const SyslogServer& server,
                 const SyslogClientSettings& settings);

  // On the strand: start resolving and connecting, completing `promise`.
  virtual void DoConnect(std::shared_ptr<MinimumPromise> promise) = 0;
  // How long Connect waits for its promise.
  virtual std::uint32_t ConnectWaitTime() const { return m_timeoutConnection; }
  // On the strand: start writing the front message.
  virtual void WriteFront() = 0;
  // On the strand, before a message is queued: false when the peer is known
  // to have ended the connection.
  virtual bool PeerAlive() { return true; }
  // On the strand: close the socket and cancel what is pending, then call
  // CloseFinished (at once, or from the handler that ends the close).
  virtual void DoClose() = 0;
  void CloseFinished() noexcept { m_closeFinished->SetValue(); }

  // On the strand: resolves the host, connects `socket` to the first
  // endpoint that answers and calls `onConnected(endpoint)`; a failure is
  // traced with `resolveLabel` or "Connect error: " and fails `promise`
  // (after `onFailure()`).
  template <class Resolver, class Socket, class OnConnected, class OnFailure>
  void ResolveAndConnect(Resolver& resolver, Socket& socket, std::shared_ptr<MinimumPromise> promise,
                         std::string_view resolveLabel, OnConnected onConnected, OnFailure onFailure);

  // On the strand: a timer that closes `socket` once the request time-out
  // has run out, unless it is cancelled first. It bounds the orderly end of
  // a stream, whatever the server does.
  std::shared_ptr<boost::asio::steady_timer> CloseAfterRequestTimeout(boost::asio::ip::tcp::socket& socket);
  // On the strand: ends our side of a connected stream (after what was
  // written), then reads and drops what the server still sends until it
  // closes its side or `deadline` closes the socket; then closes the socket
  // and finishes the close. The socket is not closed at once: bytes that
  // reach a closed socket are answered with a reset, which throws away what
  // our system has not sent yet, and a server that reads its connections
  // side by side would write a later connection's messages before the last
  // ones of this one.
  void EndStreamInOrder(boost::asio::ip::tcp::socket& socket, std::shared_ptr<boost::asio::steady_timer> deadline);

  // On the strand: marks the connection closed and closes it, once.
  void CloseOnStrand();
  // On the strand, when the front message is written or failed. `ignoreError`
  // counts a failed datagram as sent.
  void HandleWritten(const boost::system::error_code& error, bool ignoreError);
  // On the strand: fails every queued message with `error`.
  void FailQueued(const boost::system::error_code& error);
  std::exception_ptr ConnectionError(const boost::system::error_code& error, std::string_view what) const;

  const oru::RefPtr<oru::ITracer> m_tracer;
  const std::string m_host;
  const std::string m_port;
  const std::string m_serverAddress;
  Strand m_strand;
  const std::uint32_t m_timeoutConnection;
  const std::uint32_t m_timeoutRequest;
  // Touched on the strand only.
  std::deque<std::pair<Payload, std::shared_ptr<MinimumPromise>>> m_messages;
  bool m_closed = false;
  const std::shared_ptr<MinimumPromise> m_closeFinished = std::make_shared<MinimumPromise>();

 private:
  void DrainUntilClosed(boost::asio::ip::tcp::socket& socket, std::shared_ptr<boost::asio::steady_timer> deadline,
                        std::shared_ptr<std::vector<char>> buffer);
  // Waits for `promise`; a failing result becomes connection_exception.
  void WaitOrThrow(MinimumPromise& promise, std::uint32_t timeoutMilliseconds, std::string_view what);
};

template <class Resolver, class Socket, class OnConnected, class OnFailure>
void BaseConnection::ResolveAndConnect(Resolver& resolver, Socket& socket, std::shared_ptr<MinimumPromise> promise,
                                       std::string_view resolveLabel, OnConnected onConnected, OnFailure onFailure) {
  using Results = typename Resolver::results_type;
  using Endpoint = typename Socket::endpoint_type;
  resolver.async_resolve(
      m_host, m_port,
      [self = shared_from_this(), &socket, promise, resolveLabel, onConnected, onFailure](
          boost::system::error_code error, Results endpoints) {
        // Closed while the answer was on its way: the socket stays closed.
        if (self->m_closed && !error) error = boost::asio::error::operation_aborted;
        if (error) {
          SENDARA_TRACE(self->m_tracer, base::TraceLevel::kError, resolveLabel << error.message());
          onFailure();
          promise->SetException(self->ConnectionError(error, "Resolve error: "));
          return;
        }
        boost::asio::async_connect(socket, endpoints,
                                   [self, promise, onConnected, onFailure](
                                       boost::system::error_code connectError, const Endpoint& endpoint) {
                                     if (self->m_closed && !connectError) {
                                       connectError = boost::asio::error::operation_aborted;
                                     }
                                     if (connectError) {
                                       SENDARA_TRACE(self->m_tracer, base::TraceLevel::kError,
                                                     "Connect error: " << connectError.message());
                                       onFailure();
                                       promise->SetException(self->ConnectionError(connectError, "Connect error: "));
                                       return;
                                     }
                                     onConnected(endpoint);
                                   });
      });
}

}  // namespace sendara::syslog
