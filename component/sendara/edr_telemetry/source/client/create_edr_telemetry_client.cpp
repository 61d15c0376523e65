#include "component/sendara/edr_telemetry/source/client/create_edr_telemetry_client.h"

#include <filesystem>
#include <utility>

#include <boost/json/serialize.hpp>

#include "component/oru/exception_to_result.h"
#include "component/oru/i_client_certificate_decryptor.h"
#include "component/oru/i_sensitive_data_policy.h"
#include "component/oru/i_syslog_message_suffix.h"
#include "component/oru/i_tracer.h"
#include "component/oru/service_ids.h"
#include "component/oru/service_lookup.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/base/detail/common/trace_directory_content.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/request_sender/request_sender_string_factory.h"
#include "component/sendara/base/detail/storages/partitioned_value_storage.h"
#include "component/sendara/base/detail/telemetry/telemetry_throttler_v1.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_throttler_settings_source.h"
#include "component/sendara/edr_telemetry/source/client/i_edr_telemetry_client_settings_hook.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/client_request_sender_string_factory.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/dropping_connection_event_handler.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/host_suffix_source.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/mediator_request_sender_factory.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_client_factory.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_filter.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_handler_impl.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/telemetry_queue_impl.h"
#include "component/sendara/syslog/source/syslog_client_factory_impl/syslog_client_factory_impl.h"

namespace sendara::edr_telemetry {
namespace {

using base::TraceLevel;

// Events held in memory at most; past it the oldest are dropped.
constexpr std::uint64_t kQueueLimit = 200000;

// What the data folder holds, for the trace. A folder that cannot be listed
// (not made yet on a first run) is no reason to refuse the client.
void TraceStorageContent(oru::ITracer* tracer, const std::filesystem::path& path) {
  if (!tracer || !tracer->IsLevelEnabled(TraceLevel::kInfo)) return;
  try {
    // Listed before the trace line: inside it, a failure would be written as
    // a failed trace at the line's level instead of the warning below.
    const std::string content = boost::json::serialize(base::TraceDirectoryContent::GetDirectoryContent(path));
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "persistent storage content: " << content);
  } catch (...) {
    SENDARA_TRACE(tracer, TraceLevel::kWarning,
                  "persistent storage content can't be listed: " << oru::DescribeCurrentException());
  }
}

}  // namespace

oru::RefPtr<IEdrTelemetryClient> CreateEdrTelemetryClient(const EdrTelemetryClientSettings& settings,
                                                          oru::IServiceLocator* locator,
                                                          std::shared_ptr<IConnectionEventHandler> eventHandler) {
  const auto tracer = oru::GetRequiredService<oru::ITracer>(locator);
  const auto decryptor = oru::GetRequiredService<oru::IClientCertificateDecryptor>(locator);
  const base::SensitiveDataTracePolicy policy(oru::GetOptionalService<oru::ISensitiveDataPolicy>(locator));
  const auto settingsHook = oru::GetOptionalService<IEdrTelemetryClientSettingsHook>(locator);

  // An empty path would put the spool under whatever the current directory is.
  SENDARA_CONTRACT(!settings.persistentDataPath.empty(), "persistentDataPath should not be empty");
  const std::filesystem::path dataPath(settings.persistentDataPath);
  TraceStorageContent(tracer.Get(), dataPath);

  const auto storage = base::storages::CreatePersistentStorage(
      dataPath, tracer, policy, base::storages::PartitionSizeBytes(settings.persistentTelemetryPartSize),
      settings.persistentTelemetryPartCount, settings.persistentTelemetryPartRemoveCount);

  const std::uint32_t gzipLevel = EdrTelemetryClient::ConvertGzipCompressionLevel(settings.gzipCompressionLevel);
  const auto provider = std::make_shared<EdrTelemetryClientSettingsProvider>(tracer, settings, settingsHook);
  const auto requestSenderFactory = std::make_shared<ClientRequestSenderStringFactory>(
      std::make_shared<base::RequestSenderStringFactory>(oru::RefPtr<oru::IServiceLocator>(locator), tracer, policy),
      provider);
  requestSenderFactory->SetGzipLevel(gzipLevel);

  const auto suffix = oru::GetRequiredService<oru::ISyslogMessageSuffix>(locator);
  const auto furtherService = oru::GetOptionalService<oru::IObject>(locator, oru::service_ids::kFurtherClientService);
  if (!eventHandler) eventHandler = std::make_shared<DroppingConnectionEventHandler>();
  const auto senderFactory = std::make_shared<MediatorRequestSenderFactory>(
      tracer, provider, eventHandler,
      std::make_shared<syslog::SyslogClientFactoryImpl>(tracer, std::make_shared<HostSuffixSource>(suffix), policy,
                                                        decryptor),
      requestSenderFactory, furtherService);

  const auto counters = std::make_shared<telemetry::DeliveryCounters>();
  counters->WatchSpoolLosses(storage->LostRowsCounter());
  const auto queue = std::make_shared<telemetry::TelemetryQueueImpl>(tracer, kQueueLimit, policy, counters);
  const auto handler = std::make_shared<telemetry::TelemetryHandlerImpl>(tracer, policy, queue, provider, counters);
  const auto telemetryClientFactory = std::make_shared<telemetry::TelemetryClientFactory>(
      tracer, storage, queue, handler, provider, [senderFactory] { return senderFactory->Create(); }, counters);
  const auto filter = std::make_shared<TelemetryFilter>(tracer, provider);
  const auto throttler = std::make_shared<base::telemetry::TelemetryThrottlerV1>(
      tracer, std::make_shared<EdrTelemetryThrottlerSettingsSource>(provider));

  return EdrTelemetryClient::Create(tracer, EdrTelemetryClient::Parts{provider, storage, requestSenderFactory, handler,
                                                                      telemetryClientFactory, filter, throttler});
}

}  // namespace sendara::edr_telemetry
