#include "component/sendara/syslog/source/syslog_client_factory_impl/base_syslog_client.h"

#include <string>
#include <vector>

#include "component/oru/exception_to_result.h"
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
    std::shared_ptr<ISyslogConnection> connection;
    {
      // Held across the first connect: a second sender to the same server
      // waits for it instead of connecting twice.
      std::lock_guard lock(m_connectionsMutex);
      const auto found = m_connections.find(server);
      if (found != m_connections.end()) {
        if (found->second->IsUsable()) {
          connection = found->second;
        } else {
          // Written into, a socket the peer has closed would swallow the
          // message and count it as sent.
          SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "connection to " << server << " was closed, connect anew");
          found->second->Close();
          m_connections.erase(found);
        }
      }
      if (!connection) {
        connection = CreateConnection(server, PoolExecutor());
        m_connections.emplace(server, connection);
        connection->Connect(m_stopSource.GetToken());
      }
    }

    std::vector<std::uint8_t> payload(text.begin(), text.end());
    if (m_suffixSource) {
      const std::string suffix = m_suffixSource->GetSuffix();
      payload.insert(payload.end(), suffix.begin(), suffix.end());
    }
    connection->SendMessage(std::move(payload));
  } catch (...) {
    {
      std::lock_guard lock(m_connectionsMutex);
      m_connections.erase(server);
    }
    oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
    throw;
  }
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
