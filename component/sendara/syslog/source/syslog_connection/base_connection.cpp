#include "component/sendara/syslog/source/syslog_connection/base_connection.h"

#include <chrono>

#include <boost/asio/post.hpp>

#include "component/oru/exception_to_result.h"
#include "component/oru/result_text.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/stop_callback.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/syslog/source/syslog_connection/connection_error.h"

namespace sendara::syslog {

using base::TraceLevel;

BaseConnection::BaseConnection(oru::RefPtr<oru::ITracer> tracer, const Pool& pool,
                               const SyslogServer& server, const SyslogClientSettings& settings)
    : m_tracer(std::move(tracer)),
      m_host(server.host),
      m_port(server.port),
      m_serverAddress(server.ToString()),
      m_strand(boost::asio::make_strand(pool->get_executor())),
      m_timeoutConnection(settings.timeoutConnection),
      m_timeoutRequest(settings.timeoutRequest) {}

void BaseConnection::Connect(const base::StopToken& stopToken) {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, m_serverAddress);
  auto promise = std::make_shared<MinimumPromise>();
  // A stop closes the socket, which aborts the connect and wakes the wait.
  const base::StopCallback stop(stopToken, [this] { Close(); }, m_tracer);
  try {
    boost::asio::post(m_strand, [self = shared_from_this(), promise] {
      try {
        if (self->m_closed) {
          promise->SetException(self->ConnectionError(boost::asio::error::operation_aborted, "Connect error: "));
          return;
        }
        self->DoConnect(promise);
      } catch (...) {
        promise->SetException(std::current_exception());
      }
    });
    WaitOrThrow(*promise, ConnectWaitTime(), "connect");
  } catch (...) {
    oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
    Close();
    throw;
  }
}

void BaseConnection::SendMessage(Payload bytes) {
  auto promise = std::make_shared<MinimumPromise>();
  try {
    boost::asio::post(m_strand, [self = shared_from_this(), promise, bytes = std::move(bytes)]() mutable {
      try {
        if (self->m_closed) {
          promise->SetException(self->ConnectionError(boost::asio::error::not_connected, "HandleWritten: "));
          return;
        }
        if (self->m_messages.empty() && !self->PeerAlive()) {
          // Written into, a socket the peer has closed would swallow the
          // message and count it as sent.
          auto closed = MakeConnectionException(oru::rc::NetworkError, 0, self->m_serverAddress,
                                                "connection was closed by the server", __FILE__, __LINE__);
          closed.SetProperty(kPeerClosed, true);
          promise->SetException(std::make_exception_ptr(std::move(closed)));
          return;
        }
        self->m_messages.emplace_back(std::move(bytes), promise);
        if (self->m_messages.size() == 1) self->WriteFront();
      } catch (...) {
        promise->SetException(std::current_exception());
      }
    });
    WaitOrThrow(*promise, m_timeoutRequest, "send");
  } catch (...) {
    oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
    Close();
    throw;
  }
}

void BaseConnection::Close() noexcept {
  try {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, m_serverAddress);
    boost::asio::post(m_strand, [self = shared_from_this()] {
      try {
        self->CloseOnStrand();
      } catch (const std::exception& e) {
        SENDARA_TRACE(self->m_tracer, TraceLevel::kError, "Run-time exception: " << e.what());
      }
    });
  } catch (const std::exception& e) {
    SENDARA_TRACE(m_tracer, TraceLevel::kError, "Run-time exception: " << e.what());
  }
}

bool BaseConnection::WaitClosed(std::uint32_t timeoutMilliseconds) noexcept {
  try {
    return m_closeFinished->Wait(timeoutMilliseconds) == oru::rc::NoError;
  } catch (...) {
    return false;  // only values are ever set
  }
}

std::shared_ptr<boost::asio::steady_timer> BaseConnection::CloseAfterRequestTimeout(
    boost::asio::ip::tcp::socket& socket) {
  auto deadline = std::make_shared<boost::asio::steady_timer>(m_strand);
  deadline->expires_after(std::chrono::milliseconds(m_timeoutRequest));
  deadline->async_wait([self = shared_from_this(), &socket](const boost::system::error_code& error) {
    if (error) return;  // the server closed first
    SENDARA_TRACE(self->m_tracer, TraceLevel::kWarning, "the server did not close its end in time: closed");
    boost::system::error_code ignored;
    socket.close(ignored);  // ends the drain
  });
  return deadline;
}

void BaseConnection::EndStreamInOrder(boost::asio::ip::tcp::socket& socket,
                                      std::shared_ptr<boost::asio::steady_timer> deadline) {
  boost::system::error_code ignored;
  socket.cancel(ignored);  // a write or a read still under way
  socket.shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
  // Apart from any buffer of the connection's: a cancelled read may still be
  // writing into that one.
  DrainUntilClosed(socket, std::move(deadline), std::make_shared<std::vector<char>>(4096));
}

void BaseConnection::DrainUntilClosed(boost::asio::ip::tcp::socket& socket,
                                      std::shared_ptr<boost::asio::steady_timer> deadline,
                                      std::shared_ptr<std::vector<char>> buffer) {
  socket.async_read_some(
      boost::asio::buffer(*buffer), [self = shared_from_this(), &socket, deadline, buffer](
                                        const boost::system::error_code& error, std::size_t) mutable {
        if (!error) {
          self->DrainUntilClosed(socket, std::move(deadline), std::move(buffer));
          return;
        }
        // The end of the stream, a reset, or the deadline.
        deadline->cancel();
        boost::system::error_code closeError;
        socket.close(closeError);
        SENDARA_TRACE(self->m_tracer, TraceLevel::kInfo, "closed: " << error.message());
        self->CloseFinished();
      });
}

void BaseConnection::CloseOnStrand() {
  if (m_closed) return;  // a second TLS shutdown would cut the first one short
  m_closed = true;
  DoClose();
}

void BaseConnection::HandleWritten(const boost::system::error_code& error, bool ignoreError) {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "HandleWritten: " << error.message());
  if (m_messages.empty()) return;
  // A datagram that was not sent counts as sent, but not one that failed
  // because the connection was closed under it.
  if (error && (!ignoreError || m_closed)) {
    FailQueued(error);
    return;
  }
  const std::shared_ptr<MinimumPromise> written = std::move(m_messages.front().second);
  m_messages.pop_front();
  if (!m_messages.empty()) {
    // Nothing more is written once the connection is closed.
    if (m_closed) {
      FailQueued(boost::asio::error::not_connected);
    } else {
      WriteFront();
    }
  }
  written->SetValue();
}

void BaseConnection::FailQueued(const boost::system::error_code& error) {
  // Everything waiting fails: the client drops this connection. Each waiter
  // gets an exception of its own: a caller may add to what it catches, and
  // must not do so under another thread's reading.
  for (auto& [bytes, promise] : m_messages) promise->SetException(ConnectionError(error, "HandleWritten: "));
  m_messages.clear();
}

std::exception_ptr BaseConnection::ConnectionError(const boost::system::error_code& error,
                                                   std::string_view what) const {
  return std::make_exception_ptr(MakeConnectionException(ResultFromSocketError(error), 0, m_serverAddress,
                                                         std::string(what) + error.message(), __FILE__, __LINE__));
}

void BaseConnection::WaitOrThrow(MinimumPromise& promise, std::uint32_t timeoutMilliseconds, std::string_view what) {
  const oru::Result result = promise.Wait(timeoutMilliseconds);  // rethrows a stored exception
  if (oru::Failed(result)) {
    throw MakeConnectionException(result, 0, m_serverAddress,
                                  std::string(what) + " failed: " + std::string(oru::GetResultText(result)), __FILE__,
                                  __LINE__);
  }
}

}  // namespace sendara::syslog
