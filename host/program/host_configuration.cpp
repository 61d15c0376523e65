#include "host/program/host_configuration.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <string_view>

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

// The protocols by name, as the configuration gives them.
const std::map<std::string, std::uint32_t>& ProtocolNames() {
  static const std::map<std::string, std::uint32_t> kNames{
      {"TCP", 0}, {"TCP_TLS", 1}, {"HTTP_COMPRESSED", 2}, {"UDP", 3}, {"HTTP", 4}};
  return kNames;
}

// The parts of an endpoint's "url": scheme://host[:port][/path][?query].
struct Url {
  std::string scheme;
  std::string host;
  bool ipv6 = false;
  std::optional<std::int32_t> port;
  // With its query; empty for none or "/".
  std::string path;
};

bool IsAddress(int family, const std::string& text) {
  unsigned char address[16];
  return inet_pton(family, text.c_str(), address) == 1;
}

bool IsHostName(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
  });
}

// A path as the component takes it: printable, no space, no fragment.
bool IsPath(std::string_view path) {
  return path.starts_with('/') && std::all_of(path.begin(), path.end(), [](char c) { return c > 0x20 && c < 0x7F; }) &&
         path.find('#') == std::string_view::npos;
}

Url ParseUrl(const std::string& key, const std::string& text) {
  Url url;
  const std::size_t schemeEnd = text.find("://");
  if (schemeEnd == std::string::npos || schemeEnd == 0) Refuse(key, "should be scheme://host:port/path");
  url.scheme = text.substr(0, schemeEnd);
  std::transform(url.scheme.begin(), url.scheme.end(), url.scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::size_t authorityStart = schemeEnd + 3;
  const std::size_t pathStart = text.find_first_of("/?", authorityStart);
  const std::string authority = text.substr(authorityStart, pathStart == std::string::npos ? std::string::npos
                                                                                           : pathStart - authorityStart);
  if (pathStart != std::string::npos) url.path = text.substr(pathStart);
  if (url.path.starts_with('?')) url.path.insert(0, "/");
  if (url.path == "/") url.path.clear();
  if (!url.path.empty() && !IsPath(url.path)) {
    Refuse(key, "its path should hold printable characters only, without spaces or a fragment (#)");
  }
  // Credentials in a URL would be traced with it: they go in "headers".
  if (authority.find('@') != std::string::npos) Refuse(key, "should hold no user or password (use \"headers\")");
  std::string portText;
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    if (close == std::string::npos) Refuse(key, "an IPv6 address should end with ]");
    url.host = authority.substr(1, close - 1);
    url.ipv6 = true;
    if (!IsAddress(AF_INET6, url.host)) Refuse(key, "\"" + url.host + "\" is no IPv6 address");
    const std::string rest = authority.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(':')) Refuse(key, "should be scheme://host:port/path");
    if (!rest.empty()) portText = rest.substr(1);
  } else {
    const std::size_t colon = authority.find(':');
    url.host = authority.substr(0, colon);
    if (colon != std::string::npos) portText = authority.substr(colon + 1);
    if (!IsHostName(url.host)) Refuse(key, "names no host (an IPv6 address goes in brackets: [::1])");
  }
  if (!portText.empty() || authority.ends_with(':')) {
    std::int32_t port = 0;
    const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (error != std::errc() || end != portText.data() + portText.size() || port < 1 || port > 65535) {
      Refuse(key, "its port should be between 1 and 65535");
    }
    url.port = port;
  }
  return url;
}

// The protocol a URL's scheme speaks, and whether `protocol` speaks it.
std::optional<std::uint32_t> ProtocolOfScheme(const std::string& scheme) {
  if (scheme == "http" || scheme == "https") return 4;
  if (scheme == "tcp") return 0;
  if (scheme == "tls") return 1;
  if (scheme == "udp") return 3;
  return std::nullopt;
}

bool SchemeFits(const std::string& scheme, std::uint32_t protocol) {
  const std::optional<std::uint32_t> spoken = ProtocolOfScheme(scheme);
  return spoken && (*spoken == 4 ? IsHttp(protocol) : *spoken == protocol);
}

// A header name as HTTP allows it (a token).
bool IsHeaderName(std::string_view name) {
  static constexpr std::string_view kSeparators = "()<>@,;:\\\"/[]?={} \t";
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return c > 0x20 && c < 0x7F && kSeparators.find(c) == std::string_view::npos;
  });
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Whether a file holds a PEM certificate.
bool HoldsPemCertificate(const std::vector<std::uint8_t>& bytes) {
  constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  return std::search(bytes.begin(), bytes.end(), kBegin.begin(), kBegin.end()) != bytes.end();
}

// A secret read from a file: the text, without the line feed that ends it.
std::string SecretFromFile(const std::string& key, const std::filesystem::path& path) {
  const std::vector<std::uint8_t> bytes = ReadFile(key, path);
  std::string secret(bytes.begin(), bytes.end());
  if (secret.ends_with('\n')) secret.pop_back();
  if (secret.ends_with('\r')) secret.pop_back();
  return secret;
}

// What Load fills, and the items of arrays while they are read.
struct Loading {
  Loading(HostConfiguration& config, std::filesystem::path base) : config(config), base(std::move(base)) {}

  HostConfiguration& config;
  std::filesystem::path base;
  EdrTelemetryTaskEndpoint endpoint;
  std::optional<Url> url;
  bool hasHost = false;
  bool hasPort = false;
  bool hasProtocol = false;
  std::vector<oru::HttpHeader> headers;
  EventTypeSetting eventType;
  bool hasEvent = false;
  bool hasPassword = false;

  std::filesystem::path Resolve(const std::string& path) const {
    const std::filesystem::path p(path);
    return p.is_relative() ? base / p : p;
  }
};

using Reader = std::function<void(const std::string&, const json::value&)>;
using Readers = std::map<std::string, Reader>;

// Reads each member of `object` (key `key`) with the reader of `pattern` +
// "." + its name: "endpoints[]" for an item of "endpoints".
void ReadMembers(const Readers& readers, const std::string& pattern, const std::string& key,
                 const json::object& object) {
  for (const auto& [name, member] : object) {
    const std::string sub = key + "." + std::string(name);
    const auto reader = readers.find(pattern + "." + std::string(name));
    if (reader == readers.end()) Refuse(sub, "unknown key");
    reader->second(sub, member);
  }
}

}  // namespace

namespace {

// The reader of every key, by its name in the reference: the table Load
// dispatches on and Keys lists.
// The readers refer to `readers` and `l`, which must outlive them.
void MakeReaders(Loading& l, Readers& readers) {
  EdrTelemetryTaskSettings& s = l.config.taskSettings;
  HostConfiguration& config = l.config;
  // The members of an item of an event types array.
  const auto eventTypes = [&](const std::string& name, std::vector<EventTypeSetting>* out) {
    readers[name] = [&l, &readers, name, out](const std::string& key, const json::value& v) {
      const json::array& items = Array(key, v);
      out->clear();
      for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string itemKey = Item(key, i);
        l.eventType = {};
        l.hasEvent = false;
        ReadMembers(readers, name + "[]", itemKey, Object(itemKey, items[i]));
        if (!l.hasEvent) Refuse(itemKey + ".event", "missing");
        out->push_back(std::move(l.eventType));
      }
    };
    readers[name + "[].event"] = [&l](const std::string& key, const json::value& v) {
      l.eventType.event = sendara::base::ToUtf16(String(key, v));
      l.hasEvent = true;
    };
    readers[name + "[].included"] = [&l](const std::string& key, const json::value& v) {
      l.eventType.included = Bool(key, v);
    };
  };

  readers["endpoints"] = [&](const std::string& key, const json::value& v) {
    const json::array& items = Array(key, v);
    s.endpoints.clear();
    config.endpointHeaders.clear();
    for (std::size_t i = 0; i < items.size(); ++i) {
      const std::string itemKey = Item(key, i);
      l.endpoint = {};
      l.url.reset();
      l.hasHost = l.hasPort = l.hasProtocol = false;
      l.headers.clear();
      ReadMembers(readers, "endpoints[]", itemKey, Object(itemKey, items[i]));
      EdrTelemetryTaskEndpoint& endpoint = l.endpoint;
      if (l.url) {
        if (l.hasHost || l.hasPort) Refuse(itemKey, "give either \"url\" or \"host\" and \"port\", not both");
        const Url& url = *l.url;
        const std::optional<std::uint32_t> spoken = ProtocolOfScheme(url.scheme);
        if (!spoken) Refuse(itemKey + ".url", "its scheme should be http, https, tcp, tls or udp");
        if (!l.hasProtocol) endpoint.protocol = *spoken;
        if (!SchemeFits(url.scheme, endpoint.protocol)) {
          Refuse(itemKey + ".url", "its scheme " + url.scheme + " disagrees with the endpoint's protocol");
        }
        const bool http = IsHttp(endpoint.protocol);
        if (!url.port && !http) Refuse(itemKey + ".url", "should name a port");
        endpoint.port = url.port.value_or(url.scheme == "http" ? 80 : 443);
        if (http) {
          endpoint.host = url.scheme + "://" + (url.ipv6 ? "[" + url.host + "]" : url.host);
          endpoint.path = url.path;
        } else {
          if (!url.path.empty()) Refuse(itemKey + ".url", "a syslog endpoint takes no path");
          endpoint.host = url.host;
        }
      } else {
        if (!l.hasHost) Refuse(itemKey + ".host", "missing");
        if (!l.hasPort) Refuse(itemKey + ".port", "missing");
        const std::size_t scheme = endpoint.host.find("://");
        if (scheme != std::string::npos) {
          if (!SchemeFits(endpoint.host.substr(0, scheme), endpoint.protocol) || !IsHttp(endpoint.protocol)) {
            Refuse(itemKey + ".host", "its scheme disagrees with the endpoint's protocol");
          }
        }
        const std::size_t authority = scheme == std::string::npos ? 0 : scheme + 3;
        if (endpoint.host.find_first_of("/?#", authority) != std::string::npos) {
          Refuse(itemKey + ".host",
                 "holds a path: give the endpoint as \"url\": \"scheme://host:port/path\" instead of host and port");
        }
        if (IsHttp(endpoint.protocol) && scheme == std::string::npos) {
          config.notices.push_back(itemKey + ".host has no scheme: it is posted to over HTTPS (give \"url\": "
                                   "\"http://...\" for plain HTTP)");
        }
      }
      if (!l.headers.empty()) {
        if (!IsHttp(endpoint.protocol)) Refuse(itemKey + ".headers", "serves HTTP endpoints only");
        const std::string url = HostConfiguration::PostedUrl(endpoint);
        for (const HostConfiguration::EndpointHeaders& other : config.endpointHeaders) {
          // Headers go by URL: two sets for one URL could not be told apart.
          if (other.url == url) Refuse(itemKey + ".headers", "another endpoint with headers posts to " + url);
        }
        config.endpointHeaders.push_back({url, std::move(l.headers)});
        l.headers.clear();
      }
      s.endpoints.push_back(std::move(endpoint));
    }
    if (s.endpoints.empty()) Refuse(key, "should name at least one endpoint");
  };
  readers["endpoints[].host"] = [&](const std::string& key, const json::value& v) {
    l.endpoint.host = String(key, v);
    l.hasHost = !l.endpoint.host.empty();
  };
  readers["endpoints[].port"] = [&](const std::string& key, const json::value& v) {
    l.endpoint.port = static_cast<std::int32_t>(Integer(key, v, 1, 65535));
    l.hasPort = true;
  };
  readers["endpoints[].protocol"] = [&](const std::string& key, const json::value& v) {
    if (v.is_string()) {
      const auto found = ProtocolNames().find(std::string(v.as_string()));
      if (found == ProtocolNames().end()) Refuse(key, "should be TCP, TCP_TLS, HTTP_COMPRESSED, UDP, HTTP or a number");
      l.endpoint.protocol = found->second;
    } else {
      l.endpoint.protocol = Unsigned32(key, v);
    }
    l.hasProtocol = true;
  };
  readers["endpoints[].url"] = [&](const std::string& key, const json::value& v) { l.url = ParseUrl(key, String(key, v)); };
  readers["endpoints[].headers"] = [&](const std::string& key, const json::value& v) {
    // Set by the sender itself, or by HTTP: another value would break the
    // request.
    static constexpr std::string_view kReserved[] = {"Content-Type", "Content-Encoding", "Content-Length",
                                                     "Transfer-Encoding", "Host", "Expect", "Connection"};
    for (const auto& [member, value] : Object(key, v)) {
      const std::string name(member);
      const std::string sub = key + "." + name;
      if (!IsHeaderName(name)) Refuse(sub, "is no header name");
      if (std::any_of(std::begin(kReserved), std::end(kReserved),
                      [&](std::string_view reserved) { return EqualsIgnoringCase(reserved, name); })) {
        Refuse(sub, "is set by the sender itself");
      }
      const std::string text = String(sub, value);
      if (text.find_first_of("\r\n") != std::string::npos || text.find('\0') != std::string::npos) {
        Refuse(sub, "its value should hold no line break");
      }
      l.headers.push_back({name, text});
    }
  };
  readers["serverCertificatesFile"] = [&](const std::string& key, const json::value& v) {
    s.serverCertificates = ReadFile(key, l.Resolve(String(key, v)));
    if (!HoldsPemCertificate(s.serverCertificates)) Refuse(key, "the file holds no PEM certificate");
  };
  readers["httpsCaCertificates"] = [&](const std::string& key, const json::value& v) {
    const std::vector<std::string> paths = v.is_string() ? std::vector<std::string>{String(key, v)} : Strings(key, v);
    config.httpsCaCertificates.clear();
    for (const std::string& text : paths) {
      const std::filesystem::path path = l.Resolve(text);
      std::error_code error;
      bool found = false;
      if (std::filesystem::is_directory(path, error)) {
        for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
          if (entry.is_regular_file(error) && HoldsPemCertificate(ReadFile(key, entry.path()))) found = true;
        }
        if (error) Refuse(key, "can't read folder " + path.string());
      } else {
        found = HoldsPemCertificate(ReadFile(key, path));
      }
      if (!found) Refuse(key, path.string() + " holds no PEM certificate");
      config.httpsCaCertificates.push_back(path);
    }
  };
  readers["validTlsErrors"] = [&](const std::string& key, const json::value& v) {
    // The classes by name; a number is their sum.
    static const std::map<std::string, std::uint64_t> kClasses{
        {"issuer", 1}, {"validity", 2}, {"signature", 4}, {"other", 8}, {"hostName", 16}};
    if (v.is_array()) {
      s.validTlsErrors = 0;
      const json::array& items = v.as_array();
      for (std::size_t i = 0; i < items.size(); ++i) {
        const auto found = kClasses.find(String(Item(key, i), items[i]));
        if (found == kClasses.end()) Refuse(Item(key, i), "should be issuer, validity, signature, other or hostName");
        s.validTlsErrors |= found->second;
      }
    } else {
      s.validTlsErrors = static_cast<std::uint64_t>(Integer(key, v, 0, std::numeric_limits<std::int64_t>::max()));
    }
    s.validTlsErrorsPresent = true;
  };
  readers["clientCertificate"] = [&](const std::string& key, const json::value& v) {
    s.clientCertificate.clear();
    s.encryptedCertificatePassword.clear();
    l.hasPassword = false;
    ReadMembers(readers, "clientCertificate", key, Object(key, v));
    if (s.clientCertificate.empty()) Refuse(key + ".pkcs12File", "missing");
    s.clientCertificatePresent = true;
  };
  readers["clientCertificate.pkcs12File"] = [&](const std::string& key, const json::value& v) {
    s.clientCertificate = ReadFile(key, l.Resolve(String(key, v)));
    if (s.clientCertificate.empty()) Refuse(key, "the file is empty");
  };
  // The reference host keeps secrets as they are: its decryptor hands them
  // back unchanged. One of the three password keys.
  const auto password = [&](const std::string& key, const std::string& secret) {
    if (l.hasPassword) Refuse(key, "give one of password, passwordFile and passwordCredential");
    l.hasPassword = true;
    s.encryptedCertificatePassword.assign(secret.begin(), secret.end());
  };
  readers["clientCertificate.password"] = [&, password](const std::string& key, const json::value& v) {
    password(key, String(key, v));
  };
  readers["clientCertificate.passwordFile"] = [&, password](const std::string& key, const json::value& v) {
    password(key, SecretFromFile(key, l.Resolve(String(key, v))));
  };
  readers["clientCertificate.passwordCredential"] = [&, password](const std::string& key, const json::value& v) {
    const std::string name = String(key, v);
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
      Refuse(key, "should be a credential's name");
    }
    const char* folder = std::getenv("CREDENTIALS_DIRECTORY");
    if (!folder || !*folder) Refuse(key, "no credentials were given to the program (CREDENTIALS_DIRECTORY is not set)");
    password(key, SecretFromFile(key, std::filesystem::path(folder) / name));
  };
  readers["dataFolder"] = [&](const std::string& key, const json::value& v) { config.dataFolder = l.Resolve(String(key, v)); };
  readers["persistentTelemetryPartSize"] = [&](const std::string& key, const json::value& v) {
    s.persistentTelemetryPartSize = Unsigned32(key, v);
  };
  readers["persistentTelemetryPartCount"] = [&](const std::string& key, const json::value& v) {
    s.persistentTelemetryPartCount = Unsigned32(key, v);
  };
  readers["persistentTelemetryPartRemoveCount"] = [&](const std::string& key, const json::value& v) {
    s.persistentTelemetryPartRemoveCount = Unsigned32(key, v);
  };
  readers["timeoutConnection"] = [&](const std::string& key, const json::value& v) { s.timeoutConnection = Unsigned32(key, v); };
  readers["timeoutRequest"] = [&](const std::string& key, const json::value& v) { s.timeoutRequest = Unsigned32(key, v); };
  readers["maximumDataTransferTime"] = [&](const std::string& key, const json::value& v) {
    s.maximumDataTransferTime = Unsigned32(key, v);
  };
  readers["maximumNumberOfEventsInPackage"] = [&](const std::string& key, const json::value& v) {
    s.maximumNumberOfEventsInPackage =
        static_cast<std::int32_t>(Integer(key, v, 1, std::numeric_limits<std::int32_t>::max()));
  };
  readers["minPacketsInFallbackSendIteration"] = [&](const std::string& key, const json::value& v) {
    s.minPacketsInFallbackSendIteration = Unsigned32(key, v);
  };
  readers["maxPacketsInFallbackSendIteration"] = [&](const std::string& key, const json::value& v) {
    s.maxPacketsInFallbackSendIteration = Unsigned32(key, v);
  };
  readers["onlyTaggedEvents"] = [&](const std::string& key, const json::value& v) { s.onlyTaggedEvents = Bool(key, v); };
  readers["useRequestCountLimits"] = [&](const std::string& key, const json::value& v) {
    s.useRequestCountLimits = Bool(key, v);
  };
  readers["maximumNumberOfEventsInHour"] = [&](const std::string& key, const json::value& v) {
    s.maximumNumberOfEventsInHour =
        static_cast<std::int32_t>(Integer(key, v, 0, std::numeric_limits<std::int32_t>::max()));
  };
  readers["eventLimitExceededPercentage"] = [&](const std::string& key, const json::value& v) {
    s.eventLimitExceededPercentage = static_cast<std::int32_t>(Integer(key, v, 0, 100));
  };
  readers["includeRules"] = [&](const std::string& key, const json::value& v) {
    s.includeRules = sendara::base::ToUtf16(json::serialize(Object(key, v)));
  };
  readers["exclusionRules"] = [&](const std::string& key, const json::value& v) {
    s.exclusionRulesText = sendara::base::ToUtf16(json::serialize(Object(key, v)));
  };
  readers["exclusionRulesGzipFiles"] = [&](const std::string& key, const json::value& v) {
    s.exclusionRules.clear();
    for (const std::string& path : Strings(key, v)) s.exclusionRules.push_back(ReadFile(key, l.Resolve(path)));
  };
  eventTypes("defaultEventTypes", &config.defaultEventTypes);
  eventTypes("userDefinedEventTypes", &s.userDefinedEventTypes);
  readers["disableIfNotInEventTypes"] = [&](const std::string& key, const json::value& v) {
    s.disableIfNotInEventTypes = Bool(key, v);
  };
  readers["tunnel"] = [&](const std::string& key, const json::value& v) {
    s.tunnelAddress.clear();
    s.tunnelPort = 0;
    ReadMembers(readers, "tunnel", key, Object(key, v));
    if (s.tunnelAddress.empty()) Refuse(key + ".address", "missing");
    s.tunnelPresent = true;
  };
  readers["tunnel.address"] = [&](const std::string& key, const json::value& v) { s.tunnelAddress = String(key, v); };
  readers["tunnel.port"] = [&](const std::string& key, const json::value& v) {
    s.tunnelPort = static_cast<std::uint32_t>(Integer(key, v, 0, 65535));
  };
  readers["consumerId"] = [&](const std::string& key, const json::value& v) {
    s.consumerId = static_cast<std::uint64_t>(Integer(key, v, 1, std::numeric_limits<std::int64_t>::max()));
    if ((s.consumerId & 0xFFFF) == 0) Refuse(key, "its low 16 bits (the integration id) should not be 0");
  };
  readers["startAfterResponseServer"] = [&](const std::string& key, const json::value& v) {
    s.startAfterResponseServer = Bool(key, v);
  };
  readers["allowedEventTypes"] = [&](const std::string& key, const json::value& v) {
    s.allowedEventTypes = Strings16(key, v);
    s.allowedListsPresent = true;
  };
  readers["allowedEventFields"] = [&](const std::string& key, const json::value& v) {
    s.allowedEventFields = Strings(key, v);
    s.allowedListsPresent = true;
  };
  readers["gzipCompressionLevel"] = [&](const std::string& key, const json::value& v) {
    s.gzipCompressionLevel = Unsigned32(key, v);
    if (s.gzipCompressionLevel != 0 && s.gzipCompressionLevel != 5 && s.gzipCompressionLevel != 9) {
      Refuse(key, "should be 0, 5 or 9");
    }
  };
  readers["traceSensitiveData"] = [&](const std::string& key, const json::value& v) {
    config.traceSensitiveData = Bool(key, v);
  };
}

// Top-level keys hold no dot and no brackets.
bool IsTopLevel(const std::string& key) { return key.find_first_of(".[") == std::string::npos; }

}  // namespace

std::string HostConfiguration::PostedUrl(const EdrTelemetryTaskEndpoint& endpoint) {
  // As the task joins host and port (an IPv6 address in brackets) and the
  // sender adds the default scheme.
  const bool bareIpv6 = IsAddress(AF_INET6, endpoint.host);
  std::string url = bareIpv6 ? "[" + endpoint.host + "]" : endpoint.host;
  if (!url.starts_with("http://") && !url.starts_with("https://")) url.insert(0, "https://");
  return url + ":" + std::to_string(endpoint.port) + endpoint.path;
}

std::vector<std::string> HostConfiguration::Keys() {
  HostConfiguration config;
  Loading loading(config, {});
  Readers readers;
  MakeReaders(loading, readers);
  std::vector<std::string> keys;
  for (const auto& [key, reader] : readers) keys.push_back(key);
  return keys;
}

HostConfiguration HostConfiguration::Load(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw Error("can't read configuration file " + file.string());
  std::stringstream text;
  text << in.rdbuf();
  boost::system::error_code error;
  const json::value document = json::parse(text.str(), error);
  if (error) throw Error("configuration file " + file.string() + " is not JSON: " + error.message());
  if (!document.is_object()) throw Error("configuration file " + file.string() + " should hold a JSON object");

  HostConfiguration config;
  Loading loading(config, file.parent_path());
  EdrTelemetryTaskSettings& s = config.taskSettings;
  s.dataFolderId = kDataFolderId;
  s.consumerId = 0x10001;
  config.dataFolder = loading.Resolve("edr-telemetry-data");

  Readers readers;
  MakeReaders(loading, readers);
  for (const auto& [name, value] : document.as_object()) {
    const std::string key(name);
    const auto reader = IsTopLevel(key) ? readers.find(key) : readers.end();
    if (reader == readers.end()) Refuse(key, "unknown key");
    reader->second(key, value);
  }
  if (s.endpoints.empty()) Refuse("endpoints", "missing");
  const auto http = std::count_if(s.endpoints.begin(), s.endpoints.end(),
                                  [](const EdrTelemetryTaskEndpoint& endpoint) { return IsHttp(endpoint.protocol); });
  // Only HTTP goes through a proxy: a tunnel no endpoint can use would be
  // ignored without a word.
  if (s.tunnelPresent) {
    if (http == 0) Refuse("tunnel", "serves HTTP endpoints only, and no endpoint is HTTP");
    if (static_cast<std::size_t>(http) < s.endpoints.size()) {
      config.notices.push_back("the tunnel serves the HTTP endpoints only; the others connect directly");
    }
  }
  if (!config.httpsCaCertificates.empty() && http == 0) {
    Refuse("httpsCaCertificates", "serves HTTPS endpoints only, and no endpoint is HTTP");
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
