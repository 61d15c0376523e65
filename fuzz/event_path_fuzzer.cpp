// The path of one event through a client, as a host drives it: the drop
// decisions (event type lists, throttler, exclusion rules over the parsed
// event, IOA rules) and the hand-in (allowed fields, queue), with the input
// as the event. The client is made once, as the tests and benchmarks make it
// over the reference host's services, and never started: no socket, no
// sending thread, nothing that sleeps. Nothing may crash, trip a sanitizer,
// hang or leak. The event is also stripped of the fields the client does not
// allow by a stripper of its own, and what that makes of it must agree with
// from_string's reading of it (StrippingFault).
//
// Input: the event text, then one byte that picks the rest: bits 0-1 the
// throttling id, bits 2-4 the event type, bits 5-6 which IOAs are markable,
// bit 7 set to read the text as UTF-16LE units (lone surrogates and all)
// instead of UTF-8. The seeds end in a line feed: a UTF-8 NetworkConnect
// event without throttling and without marks.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "component/oru/basic_object.h"
#include "component/oru/i_tracer.h"
#include "component/oru/result_code.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/source/client/create_edr_telemetry_client.h"
#include "component/sendara/edr_telemetry/source/client/exclusion_rules_converter.h"
#include "component/sendara/edr_telemetry/source/client/telemetry/event_field_stripper.h"
#include "host/client_certificate_decryptor.h"
#include "host/sensitive_data_policy.h"
#include "host/service_locator.h"
#include "host/syslog_message_suffix.h"
#include "stripped_event_reference.h"
#include "temp_directory.h"

namespace {

using namespace sendara::edr_telemetry;

// Formats every line, as a host tracing at level 800 has them formatted,
// and keeps none: a recording tracer would grow with every event. Notes
// when the queue reports that it is full.
class DiscardingTracer final : public oru::BasicObject<DiscardingTracer, oru::UncountedObject, oru::ITracer> {
 public:
  bool IsLevelEnabled(std::int32_t level) override { return level <= 800; }
  void Trace(std::int32_t, const char* text, std::size_t size) override {
    if (std::string_view(text, size).find("queue limit reached") != std::string_view::npos) m_queueFull = true;
  }
  bool QueueFull() const { return m_queueFull; }

 private:
  std::atomic<bool> m_queueFull{false};
};

constexpr const char* kRules = R"({"rules": [
  {"enable": true, "name": "signed updater", "action": {"actionType": "dropEvent"},
   "filterExpression": {"operator": "and", "operands": [
     {"operator": "==", "operands": ["eventType", "ProcessCreate"]},
     {"operator": "iequal", "operands": ["process.name", "updater.exe"]},
     {"operator": "like", "operands": ["process.path", "C:\\Program Files\\Quillmere\\Updater\\\\*"]},
     {"operator": "==", "operands": ["process.signature.signed", true]}]}},
  {"enable": true, "name": "servers", "action": {"actionType": "dropEvent"},
   "filterExpression": {"operator": "in like", "operands": ["hostName", "SRV-*", "DC-??"]}},
  {"enable": true, "name": "loads", "action": {"actionType": "dropEvent"},
   "filterExpression": {"operator": "in", "operands": ["throttlingId", 1006, 1007, -1]}},
  {"enable": true, "name": "lookups", "action": {"actionType": "removeAllIoa"},
   "filterExpression": {"operator": "or", "operands": [
     {"operator": "contains", "operands": ["dns.query", ".example"]},
     {"operator": "not exists", "operands": ["process"]}]}},
  {"enable": true, "name": "known tool", "action": {"actionType": "removeIoa",
   "guids": ["5E1F0C2A-0000-4000-8000-000000000001"]},
   "filterExpression": {"operator": "and", "operands": [
     {"operator": ">=", "operands": ["process.pid", 4]},
     {"operator": "not", "operands": [{"operator": "bit and", "operands": ["flags", 64]}]},
     {"operator": "!=", "operands": ["network.remotePort", 18446744073709551615]},
     {"operator": "not like", "operands": ["process.user.name", "*$"]}]}},
  {"enable": false, "name": "off", "action": {"actionType": "dropEvent"},
   "filterExpression": {"operator": "exists", "operands": ["eventType"]}}
]})";

constexpr std::uint32_t kThrottlingIds[] = {0, 1001, 0, 1003};
constexpr const char16_t* kEventTypes[] = {u"ProcessCreate", u"DnsQuery",   u"NetworkConnect", u"FileWrite",
                                           u"Heartbeat",     u"ModuleLoad", u"RegistrySet",    u""};

// Removed at exit, unlike the client below.
const TempDirectory g_dataFolder;

struct Harness {
  Harness() {
    locator->Register(tracer);
    locator->Register(decryptor);
    locator->Register(suffix);
    locator->Register(policy);

    EdrTelemetryClientSettings settings;
    // Never started: the endpoint is never connected to.
    settings.endpoints.push_back({EdrTelemetryProtocol::TCP, "127.0.0.1:9"});
    settings.persistentDataPath = g_dataFolder.Path().u16string();
    settings.persistentTelemetryPartSize = 1;
    settings.persistentTelemetryPartCount = 2;
    settings.persistentTelemetryPartRemoveCount = 1;
    settings.excludedEventTypes = std::vector<std::u16string>{u"Heartbeat"};
    settings.allowedEventTypes =
        std::vector<std::u16string>{u"ProcessCreate", u"DnsQuery", u"NetworkConnect", u"FileWrite", u"RegistrySet"};
    settings.allowedEventFields = std::vector<std::string>{"eventType", "throttlingId", "timestamp", "hostName",
                                                           "process",   "network",      "dns",       "file"};
    allowedFields.insert(settings.allowedEventFields->begin(), settings.allowedEventFields->end());
    settings.telemetryTransferSettings.maximumNumberOfEventsInPackage = 100;
    ConvertToExclusionRulesFromString(nullptr, sendara::base::ToUtf16(kRules), settings.excludeRules, nullptr);
    if (settings.excludeRules.dropRules.size() != 3 || settings.excludeRules.removeAllIoaRules.size() != 1 ||
        settings.excludeRules.removeIoaRules.size() != 1) {
      std::abort();
    }
    client = CreateEdrTelemetryClient(settings, locator.Get(), nullptr);

    // The queue keeps at most its limit of events and drops the oldest past
    // it. Filled up first, each event handed in pushes one out, so that an
    // iteration ends holding no more memory than it began with.
    const std::u16string filler = u"{\"eventType\":\"filler event\"}";
    for (int i = 0; i < 1000000 && !tracer->QueueFull(); ++i) {
      if (client->SendTelemetry(filler) != oru::rc::NoError) std::abort();
    }
    if (!tracer->QueueFull()) std::abort();
  }

  oru::RefPtr<DiscardingTracer> tracer = DiscardingTracer::Create();
  oru::RefPtr<reference_host::ClientCertificateDecryptor> decryptor =
      reference_host::ClientCertificateDecryptor::Create();
  oru::RefPtr<reference_host::SyslogMessageSuffix> suffix = reference_host::SyslogMessageSuffix::Create();
  oru::RefPtr<reference_host::SensitiveDataPolicy> policy = reference_host::SensitiveDataPolicy::Create(true);
  oru::RefPtr<reference_host::ServiceLocator> locator = reference_host::ServiceLocator::Create();
  oru::RefPtr<IEdrTelemetryClient> client;
  telemetry::EventFieldStripper::FieldSet allowedFields;
  telemetry::EventFieldStripper stripper;
};

// Kept to the end of the process: releasing the client would move its full
// queue into the spool at exit.
Harness* g_harness = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_harness = new Harness;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t choice = data[size - 1];
  const std::string_view text(reinterpret_cast<const char*>(data), size - 1);

  std::u16string event;
  if (choice & 0x80) {
    event.resize(text.size() / 2);
    for (std::size_t i = 0; i < event.size(); ++i) {
      event[i] = static_cast<char16_t>(static_cast<std::uint8_t>(text[2 * i]) |
                                       (static_cast<std::uint8_t>(text[2 * i + 1]) << 8));
    }
  } else {
    event = sendara::base::ToUtf16(text);
  }
  const std::uint32_t throttlingId = kThrottlingIds[choice & 0x3];
  const std::u16string_view eventType = kEventTypes[(choice >> 2) & 0x7];
  std::vector<Ioa> ioas = {{"5e1f0c2a-0000-4000-8000-000000000001", 3, (choice & 0x20) != 0, true, true},
                           {"9b7d4e61-0000-4000-8000-000000000002", 1, (choice & 0x40) != 0, false, false}};

  IEdrTelemetryClient& client = *g_harness->client;
  bool drop = false;
  (void)client.ShouldDropEvent(throttlingId, eventType, &drop);
  (void)client.ShouldDropEventOrIoa(throttlingId, eventType, event, ioas, &drop);
  (void)client.SendTelemetry(event);

  const std::string fault = telemetry::testing::StrippingFault(g_harness->stripper, sendara::base::ToUtf8(event),
                                                               g_harness->allowedFields);
  if (!fault.empty()) {
    std::fprintf(stderr, "stripping: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
