#include "component/sendara/edr_telemetry/source/task/edr_telemetry_task.h"

#include <arpa/inet.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "component/oru/check_result_failed_exception.h"
#include "component/oru/exception_to_result.h"
#include "component/oru/i_client_certificate_decryptor.h"
#include "component/oru/i_data_folder_service.h"
#include "component/oru/service_lookup.h"
#include "component/sendara/base/detail/certificates/pkcs12_to_pem.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/base/detail/common/trace_level.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/common/trace_scope.h"
#include "component/sendara/edr_telemetry/source/client/exclusion_rules_converter.h"
#include "component/sendara/edr_telemetry/source/task/i_edr_telemetry_client_service_factory.h"

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

bool IsAddress(int family, const std::string& text) {
  unsigned char address[16];
  return inet_pton(family, text.c_str(), address) == 1;
}

bool IsPort(std::int64_t port) { return port >= 1 && port <= 65535; }

// "a.b.c.d:port" or "[v6]:port"; the bare address for the default proxy
// port (0).
std::string TunnelText(const std::string& address, std::uint32_t port) {
  const bool ipv4 = IsAddress(AF_INET, address);
  const bool ipv6 = !ipv4 && IsAddress(AF_INET6, address);
  if ((!ipv4 && !ipv6) || (port != 0 && !IsPort(port))) {
    SENDARA_THROW(base::contract_exception, oru::rc::InvalidArgument, "Invalid format of ip address");
  }
  if (port == 0) return address;
  return ipv4 ? address + ":" + std::to_string(port) : "[" + address + "]:" + std::to_string(port);
}

EdrTelemetryProtocol ProtocolOf(std::uint32_t protocol) {
  return protocol <= 3 ? static_cast<EdrTelemetryProtocol>(protocol) : EdrTelemetryProtocol::HTTP;
}

// "host:port"; an IPv6 address in brackets, so that the port stays apart.
std::string EndpointText(const EdrTelemetryTaskEndpoint& endpoint) {
  if (!IsPort(endpoint.port)) {
    base::contract_exception exception(oru::rc::InvalidArgument, "wrong endpoint port", __FILE__, __LINE__);
    exception.SetProperty("endpoint", endpoint.host + ":" + std::to_string(endpoint.port));
    base::ThrowNested(std::move(exception));
  }
  // Only an IPv6 literal: a host may carry a scheme ("http://siem").
  const bool bareIpv6 = IsAddress(AF_INET6, endpoint.host);
  const std::string host = bareIpv6 ? "[" + endpoint.host + "]" : endpoint.host;
  return host + ":" + std::to_string(endpoint.port);
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
      if (bytes.capacity() != 0) explicit_bzero(bytes.data(), bytes.capacity());
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
  if (key.capacity() != 0) explicit_bzero(key.data(), key.capacity());
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
  oru::RefPtr<IEdrTelemetryClient> client;
  {
    std::lock_guard lock(m_mutex);
    if (HasAnything()) client = StopImpl();
  }
}

oru::Result EdrTelemetryTask::Start() noexcept {
  try {
    SENDARA_TRACE_SCOPE(m_tracer, TraceLevel::kInfo);
    std::lock_guard lock(m_mutex);
    if (m_client) return oru::rc::NoError;
    ValidateSettings(m_settings);
    try {
      StartImpl();
    } catch (...) {
      // Half a start is none: the next Start runs in full.
      const oru::RefPtr<IEdrTelemetryClient> client = StopImpl();
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
    oru::RefPtr<IEdrTelemetryClient> client;
    {
      std::lock_guard lock(m_mutex);
      client = StopImpl();
    }
    // Released here, outside the lock: see StopImpl.
    client = nullptr;
    return oru::rc::NoError;
  } catch (...) {
    return Fail(m_tracer.Get(), SENDARA_FUNCTION_NAME);
  }
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
    std::lock_guard lock(m_mutex);
    // Every step that can refuse comes before anything is stored.
    EdrTelemetryClientSettings clientSettings = ConvertSettings(m_tracer.Get(), m_locator.Get(), *m_publisher, *settings);
    edr_telemetry::ValidateSettings(clientSettings, m_client ? &m_clientSettings : nullptr);
    TaskSiemTelemetryConsumer::FilterEnabledInclusiveRules(settings->includeRules);

    m_settings = *settings;
    if (m_consumer) ApplyConsumerSettings(m_settings);
    if (m_client) {
      m_forwarder->SetTunnel(clientSettings.tunnel);
      SENDARA_CHECK_RESULT(m_client->SetSettings(clientSettings), base::sendara_exception,
                           "Cannot m_client->SetSettings");
      m_clientSettings = std::move(clientSettings);
    }
    return oru::rc::NoError;
  } catch (...) {
    return Fail(m_tracer.Get(), SENDARA_FUNCTION_NAME);
  }
}

oru::Result EdrTelemetryTask::GetSettings(EdrTelemetryTaskSettings* settings) noexcept {
  try {
    SENDARA_CONTRACT(settings != nullptr, "settings");
    std::lock_guard lock(m_mutex);
    *settings = m_settings;
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

void EdrTelemetryTask::StartImpl() {
  m_clientSettings = ConvertSettings(m_tracer.Get(), m_locator.Get(), *m_publisher, m_settings);
  const auto factory = oru::GetRequiredService<IEdrTelemetryClientServiceFactory>(m_locator.Get());
  IEdrTelemetryClient* created = nullptr;
  SENDARA_CHECK_RESULT(factory->CreateEdrTelemetryClient(m_clientSettings, m_forwarder, &created),
                       base::sendara_exception, "Cannot create EdrTelemetryClient");
  m_client = oru::RefPtr<IEdrTelemetryClient>::Adopt(created);
  m_reportSink = ReportEventSink::Create(m_client);
  m_deciderSink = DeciderEventSink::Create(m_client);
  m_excludeSink = ExcludeSettingsChangedEventSink::Create(m_client);

  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "EdrTelemetryClient created, going to subscribe");
  m_consumer = TaskSiemTelemetryConsumer::Create(m_locator.Get(), m_settings.consumerId);
  SENDARA_CHECK_RESULT(static_cast<ISiemTelemetryReportEventSource&>(*m_consumer).Subscribe(m_reportSink.Get()),
                       base::sendara_exception, "Cannot subscribe to ISiemTelemetryReportEvent");
  SENDARA_CHECK_RESULT(static_cast<ISiemTelemetryDeciderEventSource&>(*m_consumer).Subscribe(m_deciderSink.Get()),
                       base::sendara_exception, "Cannot subscribe to ISiemTelemetryDeciderEvent");
  SENDARA_CHECK_RESULT(
      static_cast<ISiemTelemetryExcludeSettingsChangedEventSource&>(*m_consumer).Subscribe(m_excludeSink.Get()),
      base::sendara_exception, "Cannot subscribe to ISiemTelemetryExcludeSettingsChangedEvent");

  void* manager = nullptr;
  SENDARA_CHECK_RESULT(m_locator->GetInterface(ISiemTelemetryConsumersManager::kIid, 0, &manager),
                       base::sendara_exception, "Cannot GetInterface to m_iSiemTelemetryConsumersManager");
  m_consumersManager =
      oru::RefPtr<ISiemTelemetryConsumersManager>::Adopt(static_cast<ISiemTelemetryConsumersManager*>(manager));
  ApplyConsumerSettings(m_settings);

  m_forwarder->SetPublisher(m_publisher);
  m_forwarder->SetTunnel(m_clientSettings.tunnel);

  // Holds the manager and the consumer, never the task: the delayed start
  // may run after the task has gone.
  auto addConsumer = [manager = m_consumersManager, consumer = m_consumer] {
    SENDARA_CHECK_RESULT(manager->AddTelemetryConsumer(consumer.Get()), base::sendara_exception,
                         "Cannot m_iSiemTelemetryConsumersManager->AddTelemetryConsumer(m_taskSiemTelemetryConsumer)");
  };
  m_gate = std::make_shared<TaskStartGate>();
  if (!m_settings.startAfterResponseServer) {
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "start EdrTelemetryClient");
    addConsumer();
    SENDARA_CHECK_RESULT(m_client->Start(), base::sendara_exception, "Cannot start EdrTelemetryClient");
    return;
  }
  const auto integrationId = static_cast<std::uint16_t>(m_settings.consumerId & 0xFFFF);
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                "start EdrTelemetryClient after start response server: integration id = " << integrationId);
  m_responseServerHandler =
      ResponseServerEventHandler::Create(m_tracer, m_gate, m_client, std::move(addConsumer), integrationId);
  m_responseServer = oru::GetRequiredService<oru::IResponseServerEventSubscription>(m_locator.Get());
  SENDARA_CHECK_RESULT(m_responseServer->Subscribe(m_responseServerHandler.Get()), base::sendara_exception,
                       "Cannot subscribe to IResponseServerEventSubscription");
}

void EdrTelemetryTask::ApplyConsumerSettings(const EdrTelemetryTaskSettings& settings) {
  SENDARA_CHECK_RESULT(m_consumer->SetIncludeRules(settings.includeRules), base::sendara_exception,
                       "Cannot m_taskSiemTelemetryConsumer->SetIncludeRules");
  SENDARA_CHECK_RESULT(
      m_consumer->SetUserDefinedEventTypes(settings.disableIfNotInEventTypes, settings.userDefinedEventTypes),
      base::sendara_exception, "Cannot m_taskSiemTelemetryConsumer->SetUserDefinedEventTypes");
}

bool EdrTelemetryTask::HasAnything() const noexcept {
  return m_client || m_consumer || m_consumersManager || m_gate || m_responseServerHandler;
}

oru::RefPtr<IEdrTelemetryClient> EdrTelemetryTask::StopImpl() noexcept {
  // First the delayed start: once the gate is closed (after an action under
  // way has finished) nothing registers the consumer or starts the client.
  if (const std::shared_ptr<TaskStartGate> gate = std::exchange(m_gate, nullptr)) {
    std::lock_guard lock(gate->mutex);
    gate->open = false;
  }
  // No new calls reach the consumer...
  if (m_consumersManager && m_consumer) {
    std::uint64_t id = 0;
    m_consumer->GetConsumerId(&id);
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "RemoveTelemetryConsumer with id=" << id);
    const oru::Result removed = m_consumersManager->RemoveTelemetryConsumer(m_consumer.Get());
    if (oru::Failed(removed)) SENDARA_TRACE(m_tracer, TraceLevel::kError, "RemoveTelemetryConsumer failed");
  }
  // ...and those under way have returned before the client goes.
  auto unsubscribe = [this](auto& source, auto& sink, const char* failure) {
    if (auto taken = std::exchange(sink, nullptr); taken && m_consumer) {
      if (oru::Failed(source.UnsubscribeAndWait(taken.Get()))) SENDARA_TRACE(m_tracer, TraceLevel::kError, failure);
    }
  };
  if (m_consumer) {
    unsubscribe(static_cast<ISiemTelemetryReportEventSource&>(*m_consumer), m_reportSink,
                "m_siemTelemetryReportEventsSubscriber.Unsubscribe failed");
    unsubscribe(static_cast<ISiemTelemetryDeciderEventSource&>(*m_consumer), m_deciderSink,
                "m_siemTelemetryDeciderEventsSubscriber.Unsubscribe failed");
    unsubscribe(static_cast<ISiemTelemetryExcludeSettingsChangedEventSource&>(*m_consumer), m_excludeSink,
                "m_siemTelemetryExcludeSettingsChangedEventsSubscriber.Unsubscribe failed");
  }
  m_reportSink = nullptr;
  m_deciderSink = nullptr;
  m_excludeSink = nullptr;
  if (auto handler = std::exchange(m_responseServerHandler, nullptr); handler && m_responseServer) {
    if (oru::Failed(m_responseServer->Unsubscribe(handler.Get()))) {
      SENDARA_TRACE(m_tracer, TraceLevel::kError, "m_responseServerEventSubscriber.Unsubscribe failed");
    }
  }
  m_responseServer = nullptr;
  // What the client's own shutdown raises never reaches the host.
  m_forwarder->ResetPublisher();
  m_consumersManager = nullptr;
  m_consumer = nullptr;
  return std::exchange(m_client, nullptr);
}

}  // namespace sendara::edr_telemetry::task
