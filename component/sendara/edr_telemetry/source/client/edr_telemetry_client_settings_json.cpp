#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_json.h"

#include <cstddef>
#include <cstdint>
#include <optional>

#include <boost/json/serialize.hpp>
#include <boost/json/string.hpp>

#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/detail/serializers/exclusion_rules_json.h"

namespace sendara::edr_telemetry {
namespace {

// Overwrites a text with zeros when it goes, also when it goes because of an
// exception. The writes go through a volatile pointer so that the compiler
// cannot drop them as stores to memory that is about to be freed.
class ZeroedOnExit {
 public:
  explicit ZeroedOnExit(std::string& text) noexcept : m_text(text) {}
  ZeroedOnExit(const ZeroedOnExit&) = delete;
  ZeroedOnExit& operator=(const ZeroedOnExit&) = delete;
  ~ZeroedOnExit() {
    volatile char* bytes = m_text.data();
    for (std::size_t i = 0, size = m_text.size(); i < size; ++i) bytes[i] = '\0';
  }

 private:
  std::string& m_text;
};

boost::json::string ServerCertsToJson(const std::vector<std::uint8_t>& serverCerts) {
  std::string pem;
  ZeroedOnExit zeroed(pem);
  pem.assign(serverCerts.begin(), serverCerts.end());
  return boost::json::string(pem);
}

boost::json::array EndpointsToJson(const std::vector<EdrTelemetryEndpoint>& endpoints) {
  boost::json::array out;
  out.reserve(endpoints.size());
  for (const EdrTelemetryEndpoint& endpoint : endpoints) out.emplace_back(EndpointToTraceJson(endpoint));
  return out;
}

boost::json::object ClientCertToJson(const EdrTelemetryClientCertificate& certificate) {
  boost::json::object out;
  out.emplace("certPublic", certificate.certPublic);
  out.emplace("keyPrivate", base::SensitiveDataTracePolicy::kSensitiveData);
  return out;
}

boost::json::object TransferSettingsToJson(const TelemetryTransferSettings& settings) {
  boost::json::object out;
  out.emplace("maximumDataTransferTime", settings.maximumDataTransferTime);
  out.emplace("maximumNumberOfEventsInPackage", settings.maximumNumberOfEventsInPackage);
  out.emplace("useRequestCountLimits", settings.useRequestCountLimits);
  out.emplace("onlyTaggedEvents", settings.onlyTaggedEvents);
  out.emplace("maximumNumberOfEventsInHour", settings.maximumNumberOfEventsInHour);
  out.emplace("numberOfEventsInBlock", settings.numberOfEventsInBlock);
  out.emplace("eventLimitExceededPercentage", settings.eventLimitExceededPercentage);
  out.emplace("minPacketsInFallbackSendIteration", settings.minPacketsInFallbackSendIteration);
  out.emplace("maxPacketsInFallbackSendIteration", settings.maxPacketsInFallbackSendIteration);
  return out;
}

boost::json::array NarrowTextsToJson(const std::vector<std::string>& texts) {
  boost::json::array out;
  out.reserve(texts.size());
  for (const std::string& text : texts) out.emplace_back(text);
  return out;
}

}  // namespace

boost::json::array EventTypesToTraceJson(const std::vector<std::u16string>& eventTypes) {
  boost::json::array out;
  out.reserve(eventTypes.size());
  for (const std::u16string& eventType : eventTypes) out.emplace_back(base::ToUtf8(eventType));
  return out;
}

boost::json::object ToTraceJson(const EdrTelemetryClientSettings& settings) {
  // boost::json::object keeps the order of insertion, which is the order of
  // the members in the trace.
  boost::json::object out;
  out.emplace("endpoints", EndpointsToJson(settings.endpoints));
  out.emplace("serverCerts", ServerCertsToJson(settings.serverCerts));
  if (settings.validTlsErrors) out.emplace("validTlsErrors", *settings.validTlsErrors);
  if (settings.clientCert) out.emplace("clientCert", ClientCertToJson(*settings.clientCert));
  out.emplace("telemetryTransferSettings", TransferSettingsToJson(settings.telemetryTransferSettings));
  out.emplace("persistentDataPath", base::ToUtf8(settings.persistentDataPath));
  out.emplace("persistentTelemetryPartSize", settings.persistentTelemetryPartSize);
  out.emplace("persistentTelemetryPartCount", settings.persistentTelemetryPartCount);
  out.emplace("persistentTelemetryPartRemoveCount", settings.persistentTelemetryPartRemoveCount);
  out.emplace("timeoutConnection", settings.timeoutConnection);
  out.emplace("timeoutRequest", settings.timeoutRequest);
  out.emplace("excludeRules", ToTraceJson(settings.excludeRules));
  if (settings.excludedEventTypes) {
    out.emplace("excludedEventTypes", EventTypesToTraceJson(*settings.excludedEventTypes));
  }
  if (settings.allowedEventTypes) {
    out.emplace("allowedEventTypes", EventTypesToTraceJson(*settings.allowedEventTypes));
  }
  if (settings.allowedEventFields) {
    out.emplace("allowedEventFields", NarrowTextsToJson(*settings.allowedEventFields));
  }
  return out;
}

std::string ToTraceString(const EdrTelemetryClientSettings& settings) {
  return boost::json::serialize(ToTraceJson(settings));
}

boost::json::object EndpointToTraceJson(const EdrTelemetryEndpoint& endpoint) {
  boost::json::object item;
  item.emplace("protocol", ToString(endpoint.protocol));
  item.emplace("endpoint", endpoint.endpoint);
  return item;
}

}  // namespace sendara::edr_telemetry
