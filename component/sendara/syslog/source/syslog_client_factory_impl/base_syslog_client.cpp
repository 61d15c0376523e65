#include "component/sendara/syslog/source/syslog_client_factory_impl/base_syslog_client.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "component/oru/exception_to_result.h"
#include "component/platform/event.h"
#include "component/platform/mutex_lock.h"
#include "component/platform/reader_mutex_lock.h"
#include "component/platform/writer_mutex_lock.h"
#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/syslog/source/syslog_connection/base_connection.h"
#include "component/sendara/syslog/source/syslog_connection/connection_error.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::syslog {

using base::TraceLevel;

namespace {
constexpr std::chrono::milliseconds kCloseMargin(200);
}  // namespace

BaseSyslogClient::BaseSyslogClient(oru::RefPtr<oru::ITracer> tracer, SyslogClientSettings settings,
                                   std::shared_ptr<ISuffixSource> suffixSource, base::SensitiveDataTracePolicy policy)
    : m_tracer(std::move(tracer)),
      m_settings(std::move(settings)),
      m_suffixSource(std::move(suffixSource)),
      m_policy(std::move(policy)),
      m_connections(8) {
  m_connections.max_load_factor(1.0f);
}

BaseSyslogClient::~BaseSyslogClient() {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "destroy");
  WaitAndCloseConnections();
}

BaseConnection::Pool BaseSyslogClient::CurrentPool() {
  platform::MutexLock lock(&m_poolMutex);
  if (!m_pool) m_pool = std::make_shared<boost::asio::thread_pool>(2);
  return m_pool;
}

base::StopToken BaseSyslogClient::CurrentStopToken() {
  platform::MutexLock lock(&m_stopMutex);
  return m_stopSource.GetToken();
}

void BaseSyslogClient::MakeRequestAsync(const SyslogServer& server, std::string text) {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, " to " << server << " message: " << m_policy.Reveal(text));
  // Declared first, released last: after the connection below is gone.
  // Through the gate, left once the activity is held (see m_activityGate).
  platform::MutexLock gate(&m_activityGate);
  const platform::ReaderMutexLock activity(&m_activity);
  gate.Unlock();
  std::shared_ptr<ISyslogConnection> connection;
  try {
    std::string suffix = m_suffixSource ? m_suffixSource->GetSuffix() : std::string();
    const ISyslogConnection::Payload payload = std::make_shared<const SyslogPayload>(std::move(text), std::move(suffix));

    connection = ConnectionTo(server);
    try {
      connection->SendMessage(payload);
    } catch (const base::connection_exception& e) {
      if (!e.FindProperty(BaseConnection::kPeerClosed)) throw;
      // The server ended the connection since the last message, and nothing
      // was written: the message goes on a new connection.
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "connection to " << server << " was closed, connect anew");
      DropConnection(server, std::exchange(connection, nullptr));
      connection = ConnectionTo(server);
      connection->SendMessage(payload);
    }
  } catch (...) {
    // A connect that failed has left the map already; only this send's own
    // connection is dropped, never one another sender has made meanwhile.
    if (connection) DropConnection(server, connection);
    oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
    throw;
  }
}

std::shared_ptr<ISyslogConnection> BaseSyslogClient::ConnectionTo(const SyslogServer& server) {
  // Held across the first connect: a second sender to the same server waits
  // for it instead of connecting twice. The stop and pool locks come after
  // it, for the connect's token and pool.
  platform::MutexLock lock(&m_connectionsMutex);
  const auto found = m_connections.find(server);
  if (found != m_connections.end()) return found->second;
  const base::StopToken stopToken = CurrentStopToken();
  if (stopToken.StopRequested()) {
    // The connections are being closed: a new one would be closed at once,
    // and making it (a TLS context with its trust store) would hold the map
    // the close is waiting for.
    throw MakeConnectionException(ResultFromSocketError(boost::asio::error::operation_aborted), 0,
                                  server.ToString(), "Connect error: stopped", __FILE__, __LINE__);
  }
  std::shared_ptr<ISyslogConnection> connection = CreateConnection(server, CurrentPool());
  const auto inserted = m_connections.emplace(server, connection).first;
  try {
    connection->Connect(stopToken);
  } catch (...) {
    // Still under the lock: nobody else has seen it. A failed connection
    // closed itself.
    m_connections.erase(inserted);
    throw;
  }
  return connection;
}

void BaseSyslogClient::DropConnection(const SyslogServer& server,
                                      const std::shared_ptr<ISyslogConnection>& expected) {
  {
    platform::MutexLock lock(&m_connectionsMutex);
    const auto found = m_connections.find(server);
    if (found != m_connections.end() && found->second == expected) m_connections.erase(found);
    m_dropped.push_back(expected);
  }
  expected->Close();
}

void BaseSyslogClient::MakeRequestAsync(const SyslogServer& server, const SyslogMessage& message) {
  MakeRequestAsync(server, message.ToRfc5424());
}

oru::Result BaseSyslogClient::CloseConnections() noexcept {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "");
  return CloseConnectionsImpl(nullptr);
}

oru::Result BaseSyslogClient::CloseConnectionsImpl(std::vector<std::shared_ptr<ISyslogConnection>>* closed) noexcept {
  try {
    {
      // Closes a connect under way through its stop callback.
      platform::MutexLock stopLock(&m_stopMutex);
      m_stopSource.RequestStop();
    }
    platform::MutexLock lock(&m_connectionsMutex);
    if (closed) closed->reserve(closed->size() + m_connections.size() + m_dropped.size());
    for (auto& [server, connection] : m_connections) {
      connection->Close();
      if (closed) closed->push_back(connection);
    }
    m_connections.clear();
    // Closed when they were dropped. A stop does not wait for them.
    if (closed) closed->insert(closed->end(), m_dropped.begin(), m_dropped.end());
    m_dropped.clear();
    // Renewed within the connections lock: a connect after the clear finds
    // the new token, never the stopped one.
    platform::MutexLock stopLock(&m_stopMutex);
    m_stopSource = base::StopSource();
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result BaseSyslogClient::WaitAndCloseConnections() noexcept {
  try {
    {
      platform::MutexLock stopLock(&m_stopMutex);
      m_stopSource.RequestStop();
    }
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "");
    // Closing aborts what the connections have under way, so that a send on
    // another thread returns; then no send holds a connection any more.
    std::vector<std::shared_ptr<ISyslogConnection>> closed;
    oru::Result result = CloseConnectionsImpl(&closed);
    WaitForCloses(closed);
    closed.clear();
    BaseConnection::Pool pool;
    {
      // Through the gate, as a send enters (see m_activityGate); the
      // connections lock comes after, in CloseConnectionsImpl.
      platform::MutexLock gate(&m_activityGate);
      const platform::WriterMutexLock activity(&m_activity);
      gate.Unlock();
      // A send that was under way may have connected again since: its
      // connection runs on this pool too.
      const oru::Result closedAgain = CloseConnectionsImpl(&closed);
      if (oru::Failed(closedAgain)) {
        // Connections may be left on the pool: it must stay.
        return closedAgain;
      }
      WaitForCloses(closed);
      closed.clear();
      {
        platform::MutexLock lock(&m_poolMutex);
        pool = std::exchange(m_pool, nullptr);
      }
      if (pool) {
        // Handlers not yet started are abandoned; running ones finish first.
        pool->stop();
        pool->join();
      }
    }
    // Freed outside the activity lock: tearing the pool down waits for a
    // name lookup that is still running (it cannot be cancelled), and the
    // next send, on a new pool, need not wait for it.
    pool.reset();
    return result;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

void BaseSyslogClient::WaitForCloses(const std::vector<std::shared_ptr<ISyslogConnection>>& closed) {
  // The closes run on the pool: it stays until they are done (a TLS
  // connection says goodbye to its server), or their time is up. A TLS
  // close gives up after the request time-out itself; the margin lets it.
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(std::uint64_t{m_settings.timeoutRequest} + kCloseMargin.count());
  for (const auto& connection : closed) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    // Below the wait that never ends.
    const auto wait = std::clamp<std::int64_t>(left.count(), 0, std::int64_t{platform::Event::kInfinite} - 1);
    if (!connection->WaitClosed(static_cast<std::uint32_t>(wait))) {
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "a connection did not close in time");
    }
  }
}

}  // namespace sendara::syslog
