#include "component/sendara/syslog/source/syslog_client_factory_impl/base_syslog_client.h"

#include <string>
#include <vector>

#include "component/oru/exception_to_result.h"
#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/syslog/source/syslog_connection/base_connection.h"
#include "component/sendara/base/detail/common/trace_line.h"

namespace sendara::syslog {

using base::TraceLevel;

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

boost::asio::thread_pool::executor_type BaseSyslogClient::PoolExecutor() {
  std::lock_guard lock(m_poolMutex);
  if (!m_pool) m_pool = std::make_shared<boost::asio::thread_pool>(2);
  return m_pool->get_executor();
}

void BaseSyslogClient::MakeRequestAsync(const SyslogServer& server, std::string_view text) {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, " to " << server << " message: " << m_policy.Reveal(text));
  try {
    // Copied as bytes from byte pointers: a converting element-wise copy of
    // a package of events cost a third of the send.
    const std::string suffix = m_suffixSource ? m_suffixSource->GetSuffix() : std::string();
    const auto* textBytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto* suffixBytes = reinterpret_cast<const std::uint8_t*>(suffix.data());
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    bytes->reserve(text.size() + suffix.size());
    bytes->insert(bytes->end(), textBytes, textBytes + text.size());
    bytes->insert(bytes->end(), suffixBytes, suffixBytes + suffix.size());
    const ISyslogConnection::Payload payload = std::move(bytes);

    std::shared_ptr<ISyslogConnection> connection = ConnectionTo(server);
    try {
      connection->SendMessage(payload);
    } catch (const base::connection_exception& e) {
      if (!e.FindProperty(BaseConnection::kPeerClosed)) throw;
      // The server ended the connection since the last message, and nothing
      // was written: the message goes on a new connection.
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "connection to " << server << " was closed, connect anew");
      DropConnection(server);
      ConnectionTo(server)->SendMessage(payload);
    }
  } catch (...) {
    DropConnection(server);
    oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
    throw;
  }
}

std::shared_ptr<ISyslogConnection> BaseSyslogClient::ConnectionTo(const SyslogServer& server) {
  // Held across the first connect: a second sender to the same server waits
  // for it instead of connecting twice.
  std::lock_guard lock(m_connectionsMutex);
  const auto found = m_connections.find(server);
  if (found != m_connections.end()) return found->second;
  std::shared_ptr<ISyslogConnection> connection = CreateConnection(server, PoolExecutor());
  m_connections.emplace(server, connection);
  connection->Connect(m_stopSource.GetToken());
  return connection;
}

void BaseSyslogClient::DropConnection(const SyslogServer& server) {
  std::shared_ptr<ISyslogConnection> dropped;
  {
    std::lock_guard lock(m_connectionsMutex);
    const auto found = m_connections.find(server);
    if (found == m_connections.end()) return;
    dropped = std::move(found->second);
    m_connections.erase(found);
  }
  dropped->Close();
}

void BaseSyslogClient::MakeRequestAsync(const SyslogServer& server, const SyslogMessage& message) {
  MakeRequestAsync(server, message.ToRfc5424());
}

oru::Result BaseSyslogClient::CloseConnections() noexcept {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "");
  return CloseConnectionsImpl();
}

oru::Result BaseSyslogClient::CloseConnectionsImpl() noexcept {
  try {
    // Closes a connect under way through its stop callback.
    m_stopSource.RequestStop();
    std::lock_guard lock(m_connectionsMutex);
    for (auto& [server, connection] : m_connections) connection->Close();
    m_connections.clear();
    m_stopSource = base::StopSource();
    return oru::rc::NoError;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

oru::Result BaseSyslogClient::WaitAndCloseConnections() noexcept {
  try {
    m_stopSource.RequestStop();
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "");
    std::shared_ptr<boost::asio::thread_pool> pool;
    {
      std::lock_guard lock(m_poolMutex);
      pool = m_pool;
    }
    if (pool) {
      // Handlers not yet started are abandoned; running ones finish first.
      pool->stop();
      pool->join();
    }
    const oru::Result closed = CloseConnectionsImpl();
    {
      std::lock_guard lock(m_poolMutex);
      if (m_pool == pool) m_pool.reset();
    }
    return closed;
  } catch (...) {
    return oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
  }
}

}  // namespace sendara::syslog
