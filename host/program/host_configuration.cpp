#include "host/program/host_configuration.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <sstream>

#include <boost/json.hpp>

#include "component/sendara/base/detail/common/utf_convert.h"

namespace reference_host {
namespace {

namespace json = boost::json;
using sendara::edr_telemetry::EventTypeSetting;
using sendara::edr_telemetry::task::EdrTelemetryTaskEndpoint;
using sendara::edr_telemetry::task::EdrTelemetryTaskSettings;

[[noreturn]] void Refuse(const std::string& key, const std::string& what) {
  throw HostConfiguration::Error("configuration key \"" + key + "\": " + what);
}

std::vector<std::uint8_t> ReadFile(const std::string& key, const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) Refuse(key, path.string() + " is a folder, not a file");
  std::ifstream in(path, std::ios::binary);
  if (!in) Refuse(key, "can't read file " + path.string());
  try {
    in.exceptions(std::ios::badbit);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  } catch (const std::exception&) {
    Refuse(key, "can't read file " + path.string());
  }
}

// The key of an array's item: "endpoints[1]".
std::string Item(const std::string& key, std::size_t index) { return key + "[" + std::to_string(index) + "]"; }

// Whether the task sends to `protocol` over HTTP: protocol numbers past the
// known ones are HTTP too.
bool IsHttp(std::uint32_t protocol) { return protocol == 2 || protocol >= 4; }

const json::object& Object(const std::string& key, const json::value& value) {
  if (!value.is_object()) Refuse(key, "should be an object");
  return value.as_object();
}

const json::array& Array(const std::string& key, const json::value& value) {
  if (!value.is_array()) Refuse(key, "should be an array");
  return value.as_array();
}

std::string String(const std::string& key, const json::value& value) {
  if (!value.is_string()) Refuse(key, "should be a string");
  return std::string(value.as_string());
}

bool Bool(const std::string& key, const json::value& value) {
  if (!value.is_bool()) Refuse(key, "should be true or false");
  return value.as_bool();
}

std::int64_t Integer(const std::string& key, const json::value& value, std::int64_t minimum, std::int64_t maximum) {
  std::int64_t number = 0;
  if (value.is_int64()) {
    number = value.as_int64();
  } else if (value.is_uint64() && value.as_uint64() <= static_cast<std::uint64_t>(maximum)) {
    number = static_cast<std::int64_t>(value.as_uint64());
  } else if (value.is_uint64()) {
    Refuse(key, "should be at most " + std::to_string(maximum));
  } else {
    Refuse(key, "should be a whole number");
  }
  if (number < minimum || number > maximum) {
    Refuse(key, "should be between " + std::to_string(minimum) + " and " + std::to_string(maximum));
  }
  return number;
}

std::uint32_t Unsigned32(const std::string& key, const json::value& value) {
  return static_cast<std::uint32_t>(Integer(key, value, 0, std::numeric_limits<std::uint32_t>::max()));
}

std::uint32_t Protocol(const std::string& key, const json::value& value) {
  static const std::map<std::string, std::uint32_t> kNames{
      {"TCP", 0}, {"TCP_TLS", 1}, {"HTTP_COMPRESSED", 2}, {"UDP", 3}, {"HTTP", 4}};
  if (value.is_string()) {
    const auto found = kNames.find(std::string(value.as_string()));
    if (found == kNames.end()) Refuse(key, "should be TCP, TCP_TLS, HTTP_COMPRESSED, UDP, HTTP or a number");
    return found->second;
  }
  return Unsigned32(key, value);
}

std::vector<EventTypeSetting> EventTypes(const std::string& key, const json::value& value) {
  std::vector<EventTypeSetting> types;
  const json::array& items = Array(key, value);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string itemKey = Item(key, i);
    const json::object& entry = Object(itemKey, items[i]);
    EventTypeSetting setting;
    bool hasEvent = false;
    for (const auto& [name, member] : entry) {
      if (name == "event") {
        setting.event = sendara::base::ToUtf16(String(itemKey + ".event", member));
        hasEvent = true;
      } else if (name == "included") {
        setting.included = Bool(itemKey + ".included", member);
      } else {
        Refuse(itemKey + "." + std::string(name), "unknown key");
      }
    }
    if (!hasEvent) Refuse(itemKey + ".event", "missing");
    types.push_back(std::move(setting));
  }
  return types;
}

std::vector<std::u16string> Strings16(const std::string& key, const json::value& value) {
  std::vector<std::u16string> out;
  const json::array& items = Array(key, value);
  for (std::size_t i = 0; i < items.size(); ++i) out.push_back(sendara::base::ToUtf16(String(Item(key, i), items[i])));
  return out;
}

std::vector<std::string> Strings(const std::string& key, const json::value& value) {
  std::vector<std::string> out;
  const json::array& items = Array(key, value);
  for (std::size_t i = 0; i < items.size(); ++i) out.push_back(String(Item(key, i), items[i]));
  return out;
}

}  // namespace

HostConfiguration HostConfiguration::Load(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw Error("can't read configuration file " + file.string());
  std::stringstream text;
  text << in.rdbuf();
  boost::system::error_code error;
  const json::value document = json::parse(text.str(), error);
  if (error) throw Error("configuration file " + file.string() + " is not JSON: " + error.message());
  if (!document.is_object()) throw Error("configuration file " + file.string() + " should hold a JSON object");
  const std::filesystem::path base = file.parent_path();
  auto resolve = [&](const std::string& path) {
    const std::filesystem::path p(path);
    return p.is_relative() ? base / p : p;
  };

  HostConfiguration config;
  EdrTelemetryTaskSettings& s = config.taskSettings;
  s.dataFolderId = kDataFolderId;
  s.consumerId = 0x10001;
  config.dataFolder = resolve("edr-telemetry-data");

  using Reader = std::function<void(const std::string&, const json::value&)>;
  const std::map<std::string, Reader> readers{
      {"endpoints",
       [&](const std::string& key, const json::value& v) {
         const json::array& items = Array(key, v);
         for (std::size_t i = 0; i < items.size(); ++i) {
           const std::string itemKey = Item(key, i);
           EdrTelemetryTaskEndpoint endpoint;
           bool hasHost = false, hasPort = false;
           for (const auto& [name, member] : Object(itemKey, items[i])) {
             const std::string sub = itemKey + "." + std::string(name);
             if (name == "host") {
               endpoint.host = String(sub, member);
               hasHost = !endpoint.host.empty();
             } else if (name == "port") {
               endpoint.port = static_cast<std::int32_t>(Integer(sub, member, 1, 65535));
               hasPort = true;
             } else if (name == "protocol") {
               endpoint.protocol = Protocol(sub, member);
             } else {
               Refuse(sub, "unknown key");
             }
           }
           if (!hasHost) Refuse(itemKey + ".host", "missing");
           if (!hasPort) Refuse(itemKey + ".port", "missing");
           s.endpoints.push_back(std::move(endpoint));
         }
         if (s.endpoints.empty()) Refuse(key, "should name at least one endpoint");
       }},
      {"serverCertificatesFile",
       [&](const std::string& key, const json::value& v) {
         s.serverCertificates = ReadFile(key, resolve(String(key, v)));
         constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
         if (std::search(s.serverCertificates.begin(), s.serverCertificates.end(), kBegin.begin(), kBegin.end()) ==
             s.serverCertificates.end()) {
           Refuse(key, "the file holds no PEM certificate");
         }
       }},
      {"validTlsErrors",
       [&](const std::string& key, const json::value& v) {
         s.validTlsErrors = static_cast<std::uint64_t>(Integer(key, v, 0, std::numeric_limits<std::int64_t>::max()));
         s.validTlsErrorsPresent = true;
       }},
      {"clientCertificate",
       [&](const std::string& key, const json::value& v) {
         bool hasFile = false;
         for (const auto& [name, member] : Object(key, v)) {
           const std::string sub = key + "." + std::string(name);
           if (name == "pkcs12File") {
             s.clientCertificate = ReadFile(sub, resolve(String(sub, member)));
             hasFile = true;
           } else if (name == "password") {
             // The reference host keeps secrets as they are: its decryptor
             // hands them back unchanged.
             const std::string password = String(sub, member);
             s.encryptedCertificatePassword.assign(password.begin(), password.end());
           } else {
             Refuse(sub, "unknown key");
           }
         }
         if (!hasFile) Refuse(key + ".pkcs12File", "missing");
         s.clientCertificatePresent = true;
       }},
      {"dataFolder",
       [&](const std::string& key, const json::value& v) { config.dataFolder = resolve(String(key, v)); }},
      {"persistentTelemetryPartSize",
       [&](const std::string& key, const json::value& v) { s.persistentTelemetryPartSize = Unsigned32(key, v); }},
      {"persistentTelemetryPartCount",
       [&](const std::string& key, const json::value& v) { s.persistentTelemetryPartCount = Unsigned32(key, v); }},
      {"persistentTelemetryPartRemoveCount",
       [&](const std::string& key, const json::value& v) {
         s.persistentTelemetryPartRemoveCount = Unsigned32(key, v);
       }},
      {"timeoutConnection",
       [&](const std::string& key, const json::value& v) { s.timeoutConnection = Unsigned32(key, v); }},
      {"timeoutRequest", [&](const std::string& key, const json::value& v) { s.timeoutRequest = Unsigned32(key, v); }},
      {"maximumDataTransferTime",
       [&](const std::string& key, const json::value& v) { s.maximumDataTransferTime = Unsigned32(key, v); }},
      {"maximumNumberOfEventsInPackage",
       [&](const std::string& key, const json::value& v) {
         s.maximumNumberOfEventsInPackage = static_cast<std::int32_t>(
             Integer(key, v, 1, std::numeric_limits<std::int32_t>::max()));
       }},
      {"minPacketsInFallbackSendIteration",
       [&](const std::string& key, const json::value& v) { s.minPacketsInFallbackSendIteration = Unsigned32(key, v); }},
      {"maxPacketsInFallbackSendIteration",
       [&](const std::string& key, const json::value& v) { s.maxPacketsInFallbackSendIteration = Unsigned32(key, v); }},
      {"onlyTaggedEvents", [&](const std::string& key, const json::value& v) { s.onlyTaggedEvents = Bool(key, v); }},
      {"useRequestCountLimits",
       [&](const std::string& key, const json::value& v) { s.useRequestCountLimits = Bool(key, v); }},
      {"maximumNumberOfEventsInHour",
       [&](const std::string& key, const json::value& v) {
         s.maximumNumberOfEventsInHour = static_cast<std::int32_t>(
             Integer(key, v, 0, std::numeric_limits<std::int32_t>::max()));
       }},
      {"eventLimitExceededPercentage",
       [&](const std::string& key, const json::value& v) {
         s.eventLimitExceededPercentage = static_cast<std::int32_t>(Integer(key, v, 0, 100));
       }},
      {"includeRules",
       [&](const std::string& key, const json::value& v) {
         s.includeRules = sendara::base::ToUtf16(json::serialize(Object(key, v)));
       }},
      {"exclusionRules",
       [&](const std::string& key, const json::value& v) {
         s.exclusionRulesText = sendara::base::ToUtf16(json::serialize(Object(key, v)));
       }},
      {"exclusionRulesGzipFiles",
       [&](const std::string& key, const json::value& v) {
         for (const std::string& path : Strings(key, v)) s.exclusionRules.push_back(ReadFile(key, resolve(path)));
       }},
      {"defaultEventTypes",
       [&](const std::string& key, const json::value& v) { config.defaultEventTypes = EventTypes(key, v); }},
      {"userDefinedEventTypes",
       [&](const std::string& key, const json::value& v) { s.userDefinedEventTypes = EventTypes(key, v); }},
      {"disableIfNotInEventTypes",
       [&](const std::string& key, const json::value& v) { s.disableIfNotInEventTypes = Bool(key, v); }},
      {"tunnel",
       [&](const std::string& key, const json::value& v) {
         for (const auto& [name, member] : Object(key, v)) {
           const std::string sub = key + "." + std::string(name);
           if (name == "address") {
             s.tunnelAddress = String(sub, member);
           } else if (name == "port") {
             s.tunnelPort = static_cast<std::uint32_t>(Integer(sub, member, 0, 65535));
           } else {
             Refuse(sub, "unknown key");
           }
         }
         if (s.tunnelAddress.empty()) Refuse(key + ".address", "missing");
         s.tunnelPresent = true;
       }},
      {"consumerId",
       [&](const std::string& key, const json::value& v) {
         s.consumerId = static_cast<std::uint64_t>(Integer(key, v, 1, std::numeric_limits<std::int64_t>::max()));
         if ((s.consumerId & 0xFFFF) == 0) Refuse(key, "its low 16 bits (the integration id) should not be 0");
       }},
      {"startAfterResponseServer",
       [&](const std::string& key, const json::value& v) { s.startAfterResponseServer = Bool(key, v); }},
      {"allowedEventTypes",
       [&](const std::string& key, const json::value& v) {
         s.allowedEventTypes = Strings16(key, v);
         s.allowedListsPresent = true;
       }},
      {"allowedEventFields",
       [&](const std::string& key, const json::value& v) {
         s.allowedEventFields = Strings(key, v);
         s.allowedListsPresent = true;
       }},
      {"gzipCompressionLevel",
       [&](const std::string& key, const json::value& v) {
         s.gzipCompressionLevel = Unsigned32(key, v);
         if (s.gzipCompressionLevel != 0 && s.gzipCompressionLevel != 5 && s.gzipCompressionLevel != 9) {
           Refuse(key, "should be 0, 5 or 9");
         }
       }},
      {"traceSensitiveData",
       [&](const std::string& key, const json::value& v) { config.traceSensitiveData = Bool(key, v); }},
  };

  for (const auto& [name, value] : document.as_object()) {
    const std::string key(name);
    const auto reader = readers.find(key);
    if (reader == readers.end()) Refuse(key, "unknown key");
    reader->second(key, value);
  }
  if (s.endpoints.empty()) Refuse("endpoints", "missing");
  // Only HTTP goes through a proxy: a tunnel no endpoint can use would be
  // ignored without a word.
  if (s.tunnelPresent) {
    const auto http = std::count_if(s.endpoints.begin(), s.endpoints.end(),
                                    [](const EdrTelemetryTaskEndpoint& endpoint) { return IsHttp(endpoint.protocol); });
    if (http == 0) Refuse("tunnel", "serves HTTP endpoints only, and no endpoint is HTTP");
    if (static_cast<std::size_t>(http) < s.endpoints.size()) {
      config.notices.push_back("the tunnel serves the HTTP endpoints only; the others connect directly");
    }
  }
  if (s.persistentTelemetryPartSize == 0) Refuse("persistentTelemetryPartSize", "should not be 0");
  if (s.persistentTelemetryPartCount == 0) Refuse("persistentTelemetryPartCount", "should not be 0");
  if (s.persistentTelemetryPartRemoveCount == 0) Refuse("persistentTelemetryPartRemoveCount", "should not be 0");
  if (s.timeoutConnection == 0) Refuse("timeoutConnection", "should not be 0");
  if (s.timeoutRequest == 0) Refuse("timeoutRequest", "should not be 0");
  if (s.maximumDataTransferTime == 0) Refuse("maximumDataTransferTime", "should not be 0");
  return config;
}

}  // namespace reference_host
