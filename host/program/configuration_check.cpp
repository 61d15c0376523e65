#include "host/program/configuration_check.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <map>

#include <boost/json.hpp>

#include "component/sendara/base/detail/common/utf_convert.h"

namespace reference_host {
namespace {

using sendara::edr_telemetry::task::EdrTelemetryTaskEndpoint;
using sendara::edr_telemetry::task::EdrTelemetryTaskSettings;

bool IsHttp(std::uint32_t protocol) { return protocol == 2 || protocol >= 4; }

std::string ProtocolName(std::uint32_t protocol) {
  static const char* const kNames[] = {"TCP", "TCP_TLS", "HTTP_COMPRESSED", "UDP", "HTTP"};
  return protocol < 5 ? kNames[protocol] : "HTTP (" + std::to_string(protocol) + ")";
}

// The host name or address an endpoint connects to: without a scheme or
// brackets.
std::string HostOf(const std::string& host) {
  std::string name = host;
  if (const std::size_t scheme = name.find("://"); scheme != std::string::npos) name.erase(0, scheme + 3);
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  return name;
}

// Every address of `host`, as text; raises with getaddrinfo's reason.
std::vector<std::string> Resolve(const std::string& what, const std::string& host, bool datagram) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = datagram ? SOCK_DGRAM : SOCK_STREAM;
  addrinfo* found = nullptr;
  const int error = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (error != 0) {
    throw ConfigurationCheck::Error(what + ": can't resolve \"" + host + "\": " + ::gai_strerror(error));
  }
  std::vector<std::string> addresses;
  for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
    char text[NI_MAXHOST];
    if (::getnameinfo(entry->ai_addr, entry->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0 &&
        std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
      addresses.emplace_back(text);
    }
  }
  ::freeaddrinfo(found);
  return addresses;
}

// "N rules" of a rules document's arrays, or "none".
std::string RuleCount(const std::u16string& text, const char* array) {
  if (text.empty()) return "none";
  boost::system::error_code error;
  const boost::json::value document = boost::json::parse(sendara::base::ToUtf8(text), error);
  const boost::json::value* rules = error || !document.is_object() ? nullptr : document.as_object().if_contains(array);
  return rules && rules->is_array() ? std::to_string(rules->as_array().size()) + " rule(s)" : "given";
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
}

std::string Names(const std::vector<sendara::edr_telemetry::EventTypeSetting>& types, bool included) {
  std::vector<std::string> names;
  for (const auto& type : types) {
    if (type.included == included) names.push_back(sendara::base::ToUtf8(type.event));
  }
  return names.empty() ? "none" : Join(names, ", ");
}

}  // namespace

ConfigurationCheck::ConfigurationCheck(const HostConfiguration& configuration) : m_configuration(configuration) {
  const EdrTelemetryTaskSettings& s = configuration.taskSettings;
  for (std::size_t i = 0; i < s.endpoints.size(); ++i) {
    const EdrTelemetryTaskEndpoint& endpoint = s.endpoints[i];
    m_addresses.push_back(Resolve("endpoints[" + std::to_string(i) + "]", HostOf(endpoint.host),
                                  endpoint.protocol == 3));
  }
  if (s.tunnelPresent) Resolve("tunnel", s.tunnelAddress, false);
}

void ConfigurationCheck::Print(std::ostream& out) const {
  const HostConfiguration& c = m_configuration;
  const EdrTelemetryTaskSettings& s = c.taskSettings;
  out << "endpoints, tried in this order for each package:\n";
  for (std::size_t i = 0; i < s.endpoints.size(); ++i) {
    const EdrTelemetryTaskEndpoint& e = s.endpoints[i];
    out << "  " << i + 1 << ". " << ProtocolName(e.protocol) << " ";
    if (IsHttp(e.protocol)) {
      out << HostConfiguration::PostedUrl(e);
    } else {
      out << (e.host.find(':') != std::string::npos ? "[" + e.host + "]" : e.host) << ":" << e.port;
    }
    out << " (" << Join(m_addresses[i], ", ") << ")";
    if (IsHttp(e.protocol)) {
      // The names only: the values are secrets.
      for (const HostConfiguration::EndpointHeaders& headers : c.endpointHeaders) {
        if (headers.url != HostConfiguration::PostedUrl(e)) continue;
        std::vector<std::string> names;
        for (const oru::HttpHeader& header : headers.headers) names.push_back(header.name);
        out << ", headers: " << Join(names, ", ");
      }
      if (s.tunnelPresent) {
        out << ", through the proxy " << s.tunnelAddress << (s.tunnelPort ? ":" + std::to_string(s.tunnelPort) : "");
      }
    }
    out << "\n";
  }
  const bool tls = std::any_of(s.endpoints.begin(), s.endpoints.end(), [](const EdrTelemetryTaskEndpoint& e) {
    return e.protocol == 1 || (IsHttp(e.protocol) && e.host.rfind("http://", 0) != 0);
  });
  if (tls) {
    std::vector<std::string> trust{"the system's CAs"};
    for (const auto& path : c.httpsCaCertificates) trust.push_back(path.string());
    out << "server certificates: HTTPS trusts " << Join(trust, " and ") << "; "
        << (s.serverCertificates.empty() ? "nothing pinned" : "serverCertificatesFile pinned (TLS syslog: trusted CAs)")
        << "; errors tolerated: "
        << (s.validTlsErrorsPresent ? "mask " + std::to_string(s.validTlsErrors) : std::string("none")) << "\n";
    out << "client certificate: " << (s.clientCertificatePresent ? "given" : "none") << "\n";
  }
  out << "events: default types included: " << Names(c.defaultEventTypes, true)
      << "; excluded: " << Names(c.defaultEventTypes, false) << "\n";
  out << "  user-defined types included: " << Names(s.userDefinedEventTypes, true)
      << "; excluded: " << Names(s.userDefinedEventTypes, false) << "\n";
  out << "  only tagged events: " << (s.onlyTaggedEvents ? "yes" : "no")
      << "; include rules: " << RuleCount(s.includeRules, "inclusiveRules")
      << "; exclusion rules: " << RuleCount(s.exclusionRulesText, "rules");
  if (!s.exclusionRules.empty()) out << " and " << s.exclusionRules.size() << " gzip rules file(s)";
  out << "\n  hourly limit: "
      << (s.useRequestCountLimits ? std::to_string(s.maximumNumberOfEventsInHour) + " events" : std::string("none"))
      << "; fields and types: " << (s.allowedListsPresent ? "restricted to the allowed lists" : "all") << "\n";
  out << "packages: up to " << s.maximumNumberOfEventsInPackage << " events, sent at least every "
      << s.maximumDataTransferTime << " s; connection timeout " << s.timeoutConnection << " ms, request timeout "
      << s.timeoutRequest << " ms\n";
  out << "spool: " << (c.dataFolder / "queues").string() << " (" << s.persistentTelemetryPartCount
      << " parts of up to " << s.persistentTelemetryPartSize << " MiB), not opened by this check\n";
  out << "nothing was sent\n";
}

}  // namespace reference_host
