#pragma once

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/base/detail/common/stop_source.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/i_suffix_source.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/i_syslog_client.h"
#include "component/sendara/syslog/source/syslog_connection/base_connection.h"
#include "component/sendara/syslog/source/syslog_connection/i_syslog_connection.h"
#include "component/sendara/syslog/source/syslog_connection/syslog_client_settings.h"

namespace sendara::syslog {

// Keeps one connection per server, made and connected on the first message
// to it, on a pool of two I/O threads made with the first connection and
// dropped after every pass (WaitAndCloseConnections).
class BaseSyslogClient : public oru::Object<BaseSyslogClient, ISyslogClient> {
 public:
  void MakeRequestAsync(const SyslogServer& server, std::string text) override;
  void MakeRequestAsync(const SyslogServer& server, const SyslogMessage& message) override;
  oru::Result CloseConnections() noexcept override;
  oru::Result WaitAndCloseConnections() noexcept override;

 protected:
  BaseSyslogClient(oru::RefPtr<oru::ITracer> tracer, SyslogClientSettings settings,
                   std::shared_ptr<ISuffixSource> suffixSource, base::SensitiveDataTracePolicy policy);
  ~BaseSyslogClient() override;

  // The protocol's connection to `server`, on `pool`.
  virtual std::shared_ptr<ISyslogConnection> CreateConnection(const SyslogServer& server,
                                                              const BaseConnection::Pool& pool) = 0;

  const oru::RefPtr<oru::ITracer> m_tracer;
  const SyslogClientSettings m_settings;

 private:
  BaseConnection::Pool CurrentPool();
  base::StopToken CurrentStopToken();
  // The connection to `server`, made and connected when there is none.
  std::shared_ptr<ISyslogConnection> ConnectionTo(const SyslogServer& server);
  // Closes `expected` and takes it out of the map when it is still the
  // server's connection there (another sender may have made a new one).
  void DropConnection(const SyslogServer& server, const std::shared_ptr<ISyslogConnection>& expected);
  // Shared by every send, exclusive while the pool is dropped. Both pass a
  // gate first: the shared mutex favours readers, and back-to-back sends
  // would otherwise keep the end of a pass out for ever.
  std::shared_lock<std::shared_mutex> EnterActivity();
  std::unique_lock<std::shared_mutex> ExcludeActivity();
  // Waits for the closes of `closed`, at most the request time-out and a
  // margin in all.
  void WaitForCloses(const std::vector<std::shared_ptr<ISyslogConnection>>& closed);
  // Closes and drops every connection; hands the closed ones to `closed`
  // when it is given.
  oru::Result CloseConnectionsImpl(std::vector<std::shared_ptr<ISyslogConnection>>* closed) noexcept;

  const std::shared_ptr<ISuffixSource> m_suffixSource;
  const base::SensitiveDataTracePolicy m_policy;
  std::mutex m_connectionsMutex;
  std::unordered_map<SyslogServer, std::shared_ptr<ISyslogConnection>, SyslogServerHash> m_connections;
  // Renewed whenever the connections are dropped: a stop that ended one pass
  // must not keep the next pass from connecting. Its own lock: a stop must
  // reach a connect that runs under the connections lock.
  std::mutex m_stopMutex;
  base::StopSource m_stopSource;
  // Held shared by every send, exclusively while the pool is dropped: a
  // send's connection must not outlive the pool its sockets run on.
  std::shared_mutex m_activity;
  // Passed on the way into m_activity (see EnterActivity).
  std::mutex m_activityGate;
  std::mutex m_poolMutex;
  BaseConnection::Pool m_pool;
};

}  // namespace sendara::syslog
