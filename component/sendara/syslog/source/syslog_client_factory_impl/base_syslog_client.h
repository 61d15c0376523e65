#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/platform/mutex.h"
#include "component/platform/shared_mutex.h"
#include "component/platform/thread_annotations.h"
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
// dropped after every pass (WaitAndCloseConnections). The end of a pass
// waits, up to the request time-out, for every connection of the pass to
// have closed in order (see TcpConnection), so that a server receives the
// passes one after the other.
class BaseSyslogClient : public oru::Object<BaseSyslogClient, ISyslogClient> {
 public:
  void MakeRequestAsync(const SyslogServer& server, std::string text) override EXCLUDES(m_activityGate, m_activity);
  void MakeRequestAsync(const SyslogServer& server, const SyslogMessage& message) override
      EXCLUDES(m_activityGate, m_activity);
  oru::Result CloseConnections() noexcept override EXCLUDES(m_connectionsMutex, m_stopMutex);
  oru::Result WaitAndCloseConnections() noexcept override EXCLUDES(m_activityGate, m_activity);

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
  // The pool, made when there is none; only within a send's activity, so
  // that a pool being dropped is not handed out again.
  BaseConnection::Pool CurrentPool() REQUIRES_SHARED(m_activity) EXCLUDES(m_poolMutex);
  base::StopToken CurrentStopToken() EXCLUDES(m_stopMutex);
  // The connection to `server`, made and connected when there is none.
  std::shared_ptr<ISyslogConnection> ConnectionTo(const SyslogServer& server) REQUIRES_SHARED(m_activity)
      EXCLUDES(m_connectionsMutex);
  // Closes `expected` and takes it out of the map when it is still the
  // server's connection there (another sender may have made a new one).
  void DropConnection(const SyslogServer& server, const std::shared_ptr<ISyslogConnection>& expected)
      EXCLUDES(m_connectionsMutex);
  // Waits for the closes of `closed`, at most the request time-out and a
  // margin in all.
  void WaitForCloses(const std::vector<std::shared_ptr<ISyslogConnection>>& closed);
  // Closes and drops every connection; hands the closed ones, and those
  // dropped since, to `closed` when it is given.
  oru::Result CloseConnectionsImpl(std::vector<std::shared_ptr<ISyslogConnection>>* closed) noexcept
      EXCLUDES(m_connectionsMutex, m_stopMutex);

  const std::shared_ptr<ISuffixSource> m_suffixSource;
  const base::SensitiveDataTracePolicy m_policy;
  // Passed on the way into m_activity, shared or exclusive, and left once
  // it is held: the shared mutex favours readers, and back-to-back sends
  // would otherwise keep the end of a pass out for ever.
  platform::Mutex m_activityGate ACQUIRED_BEFORE(m_activity);
  // Held shared by every send, exclusively while the pool is dropped: a
  // send's connection must not outlive the pool its sockets run on. Taken
  // before the connections lock, which both a send and the drop take under
  // it.
  platform::SharedMutex m_activity ACQUIRED_BEFORE(m_connectionsMutex);
  // Held across a first connect; before the stop and pool locks, which a
  // connect takes under it for its token and its pool.
  platform::Mutex m_connectionsMutex ACQUIRED_BEFORE(m_stopMutex, m_poolMutex);
  std::unordered_map<SyslogServer, std::shared_ptr<ISyslogConnection>, SyslogServerHash> m_connections
      GUARDED_BY(m_connectionsMutex);
  // Connections a send dropped during the pass (it failed, or the server had
  // hung up): their closes are waited for at the end of the pass like the
  // others', so that the next pass's connection does not overtake what they
  // still carry.
  std::vector<std::shared_ptr<ISyslogConnection>> m_dropped GUARDED_BY(m_connectionsMutex);
  // Renewed whenever the connections are dropped: a stop that ended one pass
  // must not keep the next pass from connecting. Its own lock: a stop must
  // reach a connect that runs under the connections lock.
  platform::Mutex m_stopMutex;
  base::StopSource m_stopSource GUARDED_BY(m_stopMutex);
  platform::Mutex m_poolMutex;
  BaseConnection::Pool m_pool GUARDED_BY(m_poolMutex);
};

}  // namespace sendara::syslog
