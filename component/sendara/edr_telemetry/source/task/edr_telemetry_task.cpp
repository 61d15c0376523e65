#include "component/sendara/edr_telemetry/source/task/edr_telemetry_task.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "component/oru/check_result_failed_exception.h"
#include "component/oru/exception_to_result.h"
#include "component/oru/i_client_certificate_decryptor.h"
#include "component/oru/i_data_folder_service.h"
#include "component/oru/service_lookup.h"
#include "component/platform/secure_memory.h"
#include "component/sendara/base/detail/certificates/pkcs12_to_pem.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/ip_address_text.h"
#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/common/trace_scope.h"
#include "component/sendara/edr_telemetry/source/client/exclusion_rules_converter.h"
#include "component/platform/mutex_lock.h"

namespace sendara::edr_telemetry::task {
namespace {

using base::TraceLevel;

// The longest transfer time a wait can take: the next value would wait for
// ever.
constexpr std::uint64_t kMaximumTransferTimeMilliseconds = 0xFFFFFFFEu;

std::string Prefix(std::string_view function) { return "[" + std::string(function) + "]"; }

oru::Result Fail(oru::ITracer* tracer, std::string_view function) noexcept {
  try {
    return oru::ExceptionToResult(tracer, Prefix(function));
  } catch (...) {
    return oru::ExceptionToResult(nullptr, {});
  }
}

bool IsPort(std::int64_t port) { return port >= 1 && port <= 65535; }

// "a.b.c.d:port" or "[v6]:port"; the bare address for the default proxy
// port (0).
std::string TunnelText(const std::string& address, std::uint32_t port) {
  const bool ipv4 = base::IsIpv4AddressText(address);
  const bool ipv6 = !ipv4 && base::IsIpv6AddressText(address);
  if ((!ipv4 && !ipv6) || (port != 0 && !IsPort(port))) {
    SENDARA_THROW(base::contract_exception, oru::rc::InvalidArgument, "Invalid format of ip address");
  }
  if (port == 0) return address;
  return ipv4 ? address + ":" + std::to_string(port) : "[" + address + "]:" + std::to_string(port);
}

EdrTelemetryProtocol ProtocolOf(std::uint32_t protocol) {
  return protocol <= 3 ? static_cast<EdrTelemetryProtocol>(protocol) : EdrTelemetryProtocol::HTTP;
}

bool IsHttpProtocol(std::uint32_t protocol) { return protocol == 2 || protocol >= 4; }

// Visible ASCII only: no space or control byte could split the request line
// or a trace, and a fragment ('#') never reaches the server.
bool IsPath(const std::string& path) {
  return path.starts_with('/') && std::all_of(path.begin(), path.end(), [](unsigned char c) {
           return c >= 0x21 && c <= 0x7E && c != '#';
         });
}

// Names the endpoint by host and port only: a refused path may hold bytes
// that have no place in a trace.
[[noreturn]] void ThrowWrongEndpoint(const EdrTelemetryTaskEndpoint& endpoint, std::string message,
                                     const char* file, int line) {
  base::contract_exception exception(oru::rc::InvalidArgument, std::move(message), file, line);
  exception.SetProperty("endpoint", endpoint.host + ":" + std::to_string(endpoint.port));
  base::ThrowNested(std::move(exception));
}

// "host:port", then the path of an HTTP endpoint; an IPv6 address in
// brackets, so that the port stays apart.
std::string EndpointText(const EdrTelemetryTaskEndpoint& endpoint) {
  if (!IsPort(endpoint.port)) ThrowWrongEndpoint(endpoint, "wrong endpoint port", __FILE__, __LINE__);
  if (!endpoint.path.empty()) {
    if (!IsHttpProtocol(endpoint.protocol)) {
      ThrowWrongEndpoint(endpoint, "a syslog endpoint takes no path", __FILE__, __LINE__);
    }
    if (!IsPath(endpoint.path)) ThrowWrongEndpoint(endpoint, "wrong endpoint path", __FILE__, __LINE__);
  }
  // Only an IPv6 literal: a host may carry a scheme ("http://siem").
  const bool bareIpv6 = base::IsIpv6AddressText(endpoint.host);
  const std::string host = bareIpv6 ? "[" + endpoint.host + "]" : endpoint.host;
  return host + ":" + std::to_string(endpoint.port) + endpoint.path;
}

// The client certificate in PEM, its key in memory that is wiped when freed.
EdrTelemetryClientCertificate ClientCertificate(oru::IServiceLocator* locator, oru::ITracer* tracer,
                                                const EdrTelemetryTaskSettings& settings) {
  const auto decryptor = oru::GetRequiredService<oru::IClientCertificateDecryptor>(locator);
  std::vector<std::uint8_t> password;
  // The password is wiped whatever happens below.
  struct Wipe {
    std::vector<std::uint8_t>& bytes;
    ~Wipe() {
      if (bytes.capacity() != 0) platform::WipeMemory(bytes.data(), bytes.capacity());
    }
  } wipe{password};
  // Room for the terminating zero, so that appending it cannot move the
  // secret and leave a copy behind.
  password.reserve(settings.encryptedCertificatePassword.size() + 1);
  SENDARA_CHECK_RESULT(decryptor->Decrypt(settings.encryptedCertificatePassword, password),
                       oru::CheckResultFailedException, "can't decrypt the certificate password");
  if (password.empty() || password.back() != 0) password.push_back(0);

  std::string certificate;
  std::vector<std::uint8_t> key;
  const oru::Result converted = base::Pkcs12ToPem(settings.clientCertificate, password, certificate, key, tracer);
  EdrTelemetryClientCertificate result;
  result.certPublic = std::move(certificate);
  result.keyPrivate.assign(key.begin(), key.end());
  // Empty after a failed conversion: nothing to wipe, and no pointer either.
  if (key.capacity() != 0) platform::WipeMemory(key.data(), key.capacity());
  SENDARA_CHECK_RESULT(converted, oru::CheckResultFailedException, "can't read the client certificate");
  return result;
}

}  // namespace

EdrTelemetryTask::EdrTelemetryTask(oru::RefPtr<oru::IServiceLocator> locator)
    : m_locator(std::move(locator)),
      m_tracer(oru::GetRequiredService<oru::ITracer>(m_locator.Get())),
      m_forwarder(std::make_shared<ConnectionEventForwarder>(m_tracer)),
      m_publisher(std::make_shared<ConnectionCallbackEventPublisher>(m_tracer, m_locator.Get())) {
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "constructed");
}

EdrTelemetryTask::~EdrTelemetryTask() {
  // Released without a stop: the consumer would stay registered (it and the
  // manager holding each other) and the client would go on sending.
  StopRun();
}

oru::Result EdrTelemetryTask::Start() noexcept {
  try {
    SENDARA_TRACE_SCOPE(m_tracer, TraceLevel::kInfo);
    std::shared_ptr<TaskRun> run;
    // Made outside the lock (it asks host services and tells the host's
    // listeners); a start that raced another, or a settings change, begins
    // anew or gives way.
    for (;;) {
      EdrTelemetryTaskSettings settings;
      std::uint64_t version = 0;
      {
        platform::MutexLock lock(&m_mutex);
        if (m_run) return oru::rc::NoError;
        settings = m_settings;
        version = m_settingsVersion;
      }
      ValidateSettings(settings);
      EdrTelemetryClientSettings clientSettings =
          ConvertSettings(m_tracer.Get(), m_locator.Get(), *m_publisher, settings);
      auto made = std::make_shared<TaskRun>(m_tracer, m_locator.Get(), settings, clientSettings, m_forwarder);
      platform::MutexLock lock(&m_mutex);
      if (m_run) {
        // Another start won: this one's run ends unbegun, outside the lock.
        lock.Unlock();
        made->Stop();
        return oru::rc::NoError;
      }
      if (version != m_settingsVersion) {
        lock.Unlock();
        made->Stop();
        continue;
      }
      m_run = made;
      KeepCountersLocked(made->Counters());
      m_clientSettings = std::move(clientSettings);
      m_forwarder->SetPublisher(m_publisher);
      m_forwarder->SetTunnel(m_clientSettings.tunnel);
      run = std::move(made);
      break;
    }
    try {
      run->Begin();
    } catch (...) {
      // Half a start is none: the next Start runs in full.
      {
        platform::MutexLock lock(&m_mutex);
        if (m_run == run) {
          m_run = nullptr;
          m_forwarder->ResetPublisher();
        }
      }
      run->Stop();
      throw;
    }
    return oru::rc::NoError;
  } catch (...) {
    return Fail(m_tracer.Get(), SENDARA_FUNCTION_NAME);
  }
}

oru::Result EdrTelemetryTask::Stop() noexcept {
  try {
    SENDARA_TRACE_SCOPE(m_tracer, TraceLevel::kInfo);
    StopRun();
    return oru::rc::NoError;
  } catch (...) {
    return Fail(m_tracer.Get(), SENDARA_FUNCTION_NAME);
  }
}

void EdrTelemetryTask::StopRun() {
  const std::thread::id self = std::this_thread::get_id();
  std::shared_ptr<TaskRun> run;
  {
    platform::MutexLock lock(&m_mutex);
    run = std::exchange(m_run, nullptr);
    if (!run) {
      // Another thread is ending the run: wait for it, unless this thread is
      // the one it waits for (a sink on a sending thread) or is ending it
      // itself (a listener told of the consumer's removal).
      const auto endingElsewhere = [&]() REQUIRES(m_mutex) {
        return std::any_of(m_stopping.begin(), m_stopping.end(), [&](std::thread::id id) { return id != self; }) &&
               std::find(m_stopping.begin(), m_stopping.end(), self) == m_stopping.end();
      };
      if (!m_forwarder->InSinkCall()) {
        while (endingElsewhere()) m_stopped.Wait(&m_mutex);
      }
      return;
    }
    // What the client's own shutdown raises never reaches the host.
    m_forwarder->ResetPublisher();
    m_stopping.push_back(self);
  }
  // From a sink, this thread is a sending thread that a delayed start under
  // way may be waiting for (it waits for the client, whose restart waits for
  // this thread).
  run->Stop(!m_forwarder->InSinkCall());
  {
    platform::MutexLock lock(&m_mutex);
    m_stopping.erase(std::find(m_stopping.begin(), m_stopping.end(), self));
  }
  m_stopped.NotifyAll();
}

oru::Result EdrTelemetryTask::Pause() noexcept {
  SENDARA_TRACE_SCOPE(m_tracer, TraceLevel::kInfo);
  return oru::rc::NotSupported;
}

oru::Result EdrTelemetryTask::Resume() noexcept {
  SENDARA_TRACE_SCOPE(m_tracer, TraceLevel::kInfo);
  return oru::rc::NotSupported;
}

oru::Result EdrTelemetryTask::SetSettings(const EdrTelemetryTaskSettings* settings) noexcept {
  try {
    SENDARA_CONTRACT(settings != nullptr, "settings");
    ValidateSettings(*settings);
    // Every step that can refuse comes before anything is stored; those that
    // ask host services, outside the lock.
    EdrTelemetryClientSettings clientSettings = ConvertSettings(m_tracer.Get(), m_locator.Get(), *m_publisher, *settings);
    TaskSiemTelemetryConsumer::FilterEnabledInclusiveRules(settings->includeRules);
    std::shared_ptr<TaskRun> run;
    {
      platform::MutexLock lock(&m_mutex);
      edr_telemetry::ValidateSettings(clientSettings, m_run ? &m_clientSettings : nullptr);
      m_settings = *settings;
      ++m_settingsVersion;
      if (m_run) {
        m_clientSettings = std::move(clientSettings);
        m_forwarder->SetTunnel(m_clientSettings.tunnel);
        m_applyWanted = true;
        run = m_run;
      }
    }
    return run ? ApplySettings(run) : oru::rc::NoError;
  } catch (...) {
    return Fail(m_tracer.Get(), SENDARA_FUNCTION_NAME);
  }
}

oru::Result EdrTelemetryTask::ApplySettings(const std::shared_ptr<TaskRun>& run) {
  {
    platform::MutexLock lock(&m_mutex);
    if (m_applying) return oru::rc::NoError;
    m_applying = true;
  }
  oru::Result result = oru::rc::NoError;
  for (;;) {
    EdrTelemetryTaskSettings settings;
    EdrTelemetryClientSettings clientSettings;
    {
      platform::MutexLock lock(&m_mutex);
      // A stop took the run (or a start made another): nothing more to apply.
      if (!m_applyWanted || m_run != run) {
        m_applying = false;
        return result;
      }
      m_applyWanted = false;
      settings = m_settings;
      clientSettings = m_clientSettings;
    }
    try {
      run->Apply(settings, clientSettings);
      result = oru::rc::NoError;
    } catch (...) {
      // The last round's answer is the caller's; the next round may still
      // apply newer settings.
      result = Fail(m_tracer.Get(), SENDARA_FUNCTION_NAME);
    }
  }
}

oru::Result EdrTelemetryTask::GetSettings(EdrTelemetryTaskSettings* settings) noexcept {
  try {
    SENDARA_CONTRACT(settings != nullptr, "settings");
    platform::MutexLock lock(&m_mutex);
    *settings = m_settings;
    return oru::rc::NoError;
  } catch (...) {
    return Fail(m_tracer.Get(), SENDARA_FUNCTION_NAME);
  }
}

void EdrTelemetryTask::KeepCountersLocked(std::shared_ptr<const telemetry::DeliveryCounters> counters) {
  if (!counters) return;
  // The counters of clients that are gone are final: folded into one sum,
  // so that a host that starts and stops for years keeps no list of them.
  // (A loop, not a predicate: the analysis cannot see the lock in a lambda.)
  std::vector<std::shared_ptr<const telemetry::DeliveryCounters>> live;
  for (std::shared_ptr<const telemetry::DeliveryCounters>& kept : m_counters) {
    if (kept.use_count() == 1) {
      m_endedRunsCounts += kept->Read();
    } else {
      live.push_back(std::move(kept));
    }
  }
  live.push_back(std::move(counters));
  m_counters = std::move(live);
}

oru::Result EdrTelemetryTask::GetDeliveryCounts(EdrTelemetryDeliveryCounts* counts) noexcept {
  try {
    SENDARA_CONTRACT(counts != nullptr, "counts");
    std::vector<std::shared_ptr<const telemetry::DeliveryCounters>> kept;
    EdrTelemetryDeliveryCounts sum;
    {
      platform::MutexLock lock(&m_mutex);
      kept = m_counters;
      sum = m_endedRunsCounts;
    }
    for (const auto& counters : kept) sum += counters->Read();
    *counts = sum;
    return oru::rc::NoError;
  } catch (...) {
    return Fail(m_tracer.Get(), SENDARA_FUNCTION_NAME);
  }
}

void EdrTelemetryTask::ValidateSettings(const EdrTelemetryTaskSettings& settings) {
#define SENDARA_TASK_CHECK(condition, message) \
  SENDARA_CHECK(condition, oru::CheckResultFailedException, oru::rc::InvalidArgument, message)
  SENDARA_TASK_CHECK(settings.consumerId != 0, "consumerId should be non zero");
  SENDARA_TASK_CHECK((settings.consumerId & 0xFFFF) != 0, "integration id (part consumer id) should be non zero");
  SENDARA_TASK_CHECK(settings.persistentTelemetryPartSize != 0, "persistentTelemetryPartSize should be non zero");
  SENDARA_TASK_CHECK(settings.persistentTelemetryPartCount != 0, "persistentTelemetryPartCount should be non zero");
  SENDARA_TASK_CHECK(settings.persistentTelemetryPartRemoveCount != 0,
                     "persistentTelemetryPartRemoveCount should be non zero");
  // Counts the client takes as unsigned: a negative one would be billions.
  SENDARA_TASK_CHECK(settings.maximumNumberOfEventsInPackage >= 0,
                     "maximumNumberOfEventsInPackage should not be negative");
  SENDARA_TASK_CHECK(settings.maximumNumberOfEventsInHour >= 0, "maximumNumberOfEventsInHour should not be negative");
  SENDARA_TASK_CHECK(settings.eventLimitExceededPercentage >= 0 && settings.eventLimitExceededPercentage <= 100,
                     "eventLimitExceededPercentage should be between 0 and 100");
#undef SENDARA_TASK_CHECK
}

EdrTelemetryClientSettings EdrTelemetryTask::ConvertSettings(oru::ITracer* tracer, oru::IServiceLocator* locator,
                                                             ConnectionCallbackEventPublisher& publisher,
                                                             const EdrTelemetryTaskSettings& settings) {
  EdrTelemetryClientSettings out;
  for (const EdrTelemetryTaskEndpoint& endpoint : settings.endpoints) {
    out.endpoints.push_back({ProtocolOf(endpoint.protocol), EndpointText(endpoint)});
  }
  if (settings.tunnelPresent) {
    try {
      out.tunnel = TunnelText(settings.tunnelAddress, settings.tunnelPort);
    } catch (...) {
      SENDARA_TRACE(tracer, TraceLevel::kError,
                    "Not supported format the tunnel endpoint: address=" << settings.tunnelAddress
                                                                         << ", port=" << settings.tunnelPort);
      throw;
    }
  }
  out.serverCerts = settings.serverCertificates;
  out.validTlsErrors = settings.validTlsErrorsPresent ? std::optional(settings.validTlsErrors) : std::nullopt;

  TelemetryTransferSettings& transfer = out.telemetryTransferSettings;
  transfer.maximumDataTransferTime = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(std::uint64_t{settings.maximumDataTransferTime} * 1000, kMaximumTransferTimeMilliseconds));
  transfer.maximumNumberOfEventsInPackage = settings.maximumNumberOfEventsInPackage;
  transfer.minPacketsInFallbackSendIteration = settings.minPacketsInFallbackSendIteration;
  transfer.maxPacketsInFallbackSendIteration = settings.maxPacketsInFallbackSendIteration;
  transfer.onlyTaggedEvents = settings.onlyTaggedEvents;
  transfer.useRequestCountLimits = settings.useRequestCountLimits;
  transfer.maximumNumberOfEventsInHour = settings.maximumNumberOfEventsInHour;
  transfer.eventLimitExceededPercentage = settings.eventLimitExceededPercentage;

  const auto dataFolders = oru::GetRequiredService<oru::IDataFolderService>(locator);
  std::u16string dataPath;
  SENDARA_CHECK_RESULT(dataFolders->GetDataFolderPath(settings.dataFolderId, dataPath),
                       oru::CheckResultFailedException, "Expression failed");
  out.persistentDataPath = std::move(dataPath);
  out.persistentTelemetryPartSize = settings.persistentTelemetryPartSize;
  out.persistentTelemetryPartCount = settings.persistentTelemetryPartCount;
  out.persistentTelemetryPartRemoveCount = settings.persistentTelemetryPartRemoveCount;
  out.timeoutConnection = settings.timeoutConnection;
  out.timeoutRequest = settings.timeoutRequest;

  ConvertToExclusionRulesFromString(tracer, settings.exclusionRulesText, out.excludeRules, nullptr);
  for (const std::vector<std::uint8_t>& document : settings.exclusionRules) {
    ConvertToExclusionRules(tracer, document, out.excludeRules, nullptr);
  }
  if (settings.allowedListsPresent) {
    out.allowedEventTypes = settings.allowedEventTypes;
    out.allowedEventFields = settings.allowedEventFields;
  }
  if (settings.clientCertificatePresent) {
    try {
      out.clientCert = ClientCertificate(locator, tracer, settings);
    } catch (...) {
      oru::ExceptionToResult(tracer, Prefix(SENDARA_FUNCTION_NAME) + " Can't decrypt client certificate:");
      publisher.IncorrectSettingsApplying();
      throw;
    }
  }
  out.gzipCompressionLevel = ConvertGzipCompressionLevel(settings.gzipCompressionLevel);
  return out;
}

std::uint32_t EdrTelemetryTask::ConvertGzipCompressionLevel(std::uint32_t level) {
  SENDARA_CONTRACT(level == 0 || level == 5 || level == 9, "gzip compression level should be 0, 5 or 9");
  return level;
}

}  // namespace sendara::edr_telemetry::task
