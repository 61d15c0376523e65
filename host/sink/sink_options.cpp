#include "host/sink/sink_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <set>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <boost/beast/core/string.hpp>

namespace siem_sink {
namespace {

[[noreturn]] void Refuse(std::string_view option, std::string_view why) {
  throw std::invalid_argument(std::string(option) + ": " + std::string(why));
}

// A decimal number in [minimum, maximum], nothing else: no sign, no blanks,
// no trailing text, so that a typo never silently becomes another port.
unsigned ParseNumber(std::string_view option, std::string_view text, unsigned minimum, unsigned maximum) {
  unsigned value = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value < minimum || value > maximum) {
    Refuse(option, "'" + std::string(text) + "' is not a number from " + std::to_string(minimum) + " to " +
                       std::to_string(maximum));
  }
  return value;
}

std::optional<Protocol> ProtocolOption(std::string_view name) {
  for (const Protocol protocol : kProtocols) {
    if (name.size() == ProtocolName(protocol).size() + 2 && name.starts_with("--") &&
        name.substr(2) == ProtocolName(protocol)) {
      return protocol;
    }
  }
  return std::nullopt;
}

// Visible ASCII from '/' on, as a request line carries it; no fragment,
// which never reaches a server.
void CheckPath(std::string_view option, const std::string& path) {
  if (!path.starts_with('/')) Refuse(option, "'" + path + "' does not start with /");
  for (const unsigned char c : path) {
    // Not shown: the bytes at fault could garble the message.
    if (c < 0x21 || c > 0x7E || c == '#') Refuse(option, "holds a blank, a control byte, a non-ASCII byte or #");
  }
}

// A header field name: one of HTTP's tokens.
bool IsToken(std::string_view name) {
  constexpr std::string_view kSymbols = "!#$%&'*+-.^_`|~";
  return !name.empty() && std::all_of(name.begin(), name.end(), [&](unsigned char c) {
    return std::isalnum(c) || kSymbols.find(static_cast<char>(c)) != std::string_view::npos;
  });
}

// "Name: value". The messages never show the value, which may be a secret,
// nor the text given, which holds it.
SinkOptions::HttpHeader ParseHeader(std::string_view option, std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) Refuse(option, "expected \"Name: value\"");
  SinkOptions::HttpHeader header{std::string(text.substr(0, colon)), std::string(text.substr(colon + 1))};
  if (!IsToken(header.name)) Refuse(option, "expected \"Name: value\" with a header name before the colon");
  const std::size_t first = header.value.find_first_not_of(" \t");
  if (first == std::string::npos) Refuse(option, header.name + " needs a value after the colon");
  header.value = header.value.substr(first, header.value.find_last_not_of(" \t") - first + 1);
  for (const unsigned char c : header.value) {
    if ((c < 0x20 && c != '\t') || c == 0x7F) Refuse(option, "the value of " + header.name + " holds a control byte");
  }
  return header;
}

}  // namespace

SinkOptions SinkOptions::Parse(std::span<const std::string_view> arguments) {
  SinkOptions options;
  std::set<std::string, std::less<>> seen;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string_view name = arguments[i];
    std::optional<std::string_view> inlineValue;
    if (const std::size_t equals = name.find('='); name.starts_with("--") && equals != std::string_view::npos) {
      inlineValue = name.substr(equals + 1);
      name = name.substr(0, equals);
    }
    if (name == "--help" || name == "-h") {
      if (inlineValue) Refuse(name, "takes no value");
      options.help = true;
      continue;
    }
    if (name == "--connection-numbers") {
      if (inlineValue) Refuse(name, "takes no value");
      options.numberConnections = true;
      continue;
    }
    if (!name.starts_with("--")) Refuse(name, "unexpected argument (options start with --)");

    const auto value = [&]() -> std::string_view {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= arguments.size()) Refuse(name, "needs a value");
      return arguments[++i];
    };
    const auto text = [&]() -> std::string {
      const std::string_view given = value();
      if (given.empty()) Refuse(name, "needs a non-empty value");
      return std::string(given);
    };

    // A second occurrence is refused rather than one of the two winning:
    // a script that passes the same option twice has a mistake in it.
    const bool known = ProtocolOption(name) || name == "--address" || name == "--certificate" ||
                       name == "--key" || name == "--client-ca" || name == "--tls-version" ||
                       name == "--http-status" || name == "--output" || name == "--ready-file" ||
                       name == "--summary-json" || name == "--expect" || name == "--http-path";
    if (name == "--http-header") {
      // One for each header.
      SinkOptions::HttpHeader header = ParseHeader(name, value());
      for (const SinkOptions::HttpHeader& earlier : options.httpHeaders) {
        if (boost::beast::iequals(earlier.name, header.name)) Refuse(name, header.name + " given more than once");
      }
      options.httpHeaders.push_back(std::move(header));
      continue;
    }
    if (!known) Refuse(name, "unknown option");
    if (!seen.emplace(name).second) Refuse(name, "given more than once");

    if (const std::optional<Protocol> protocol = ProtocolOption(name)) {
      options.m_ports[ProtocolIndex(*protocol)] = static_cast<std::uint16_t>(ParseNumber(name, value(), 0, 65535));
    } else if (name == "--address") {
      options.address = text();
    } else if (name == "--certificate") {
      options.certificateFile = text();
    } else if (name == "--key") {
      options.keyFile = text();
    } else if (name == "--client-ca") {
      options.clientCaFile = text();
    } else if (name == "--tls-version") {
      options.tlsVersion = text();
      if (options.tlsVersion != "1.0" && options.tlsVersion != "1.1" && options.tlsVersion != "1.2" &&
          options.tlsVersion != "1.3") {
        Refuse(name, "'" + options.tlsVersion + "' is none of 1.0, 1.1, 1.2 and 1.3");
      }
    } else if (name == "--http-status") {
      // A final status: an interim one (1xx) would leave the client waiting.
      options.httpStatus = ParseNumber(name, value(), 200, 599);
    } else if (name == "--http-path") {
      options.httpPath = text();
      CheckPath(name, options.httpPath);
    } else if (name == "--output") {
      options.output = text();
    } else if (name == "--ready-file") {
      options.readyFile = text();
    } else if (name == "--expect") {
      options.expectedEvents = ParseNumber(name, value(), 1, std::numeric_limits<unsigned>::max());
    } else {
      options.summaryJsonFile = text();
    }
  }
  if (options.help) return options;

  bool any = false;
  for (const Protocol protocol : kProtocols) any = any || options.Enabled(protocol);
  if (!any) Refuse("--tcp/--udp/--tls/--http/--https", "give at least one protocol to listen on");
  if (options.certificateFile.empty() != options.keyFile.empty()) {
    Refuse(options.keyFile.empty() ? "--key" : "--certificate",
           options.keyFile.empty() ? "needed with --certificate" : "needed with --key");
  }
  if (options.NeedsTls() && options.certificateFile.empty()) {
    Refuse(options.Enabled(Protocol::kTls) ? "--tls" : "--https", "needs --certificate and --key");
  }
  if (!options.NeedsTls() && !options.clientCaFile.empty()) Refuse("--client-ca", "needs --tls or --https");
  if (!options.NeedsTls() && !options.tlsVersion.empty()) Refuse("--tls-version", "needs --tls or --https");
  const bool http = options.Enabled(Protocol::kHttp) || options.Enabled(Protocol::kHttps);
  if (!http && !options.httpPath.empty()) Refuse("--http-path", "needs --http or --https");
  if (!http && !options.httpHeaders.empty()) Refuse("--http-header", "needs --http or --https");
  return options;
}

std::string SinkOptions::Usage() {
  return "Usage: edr-siem-sink [--address ADDR] [--tcp PORT] [--udp PORT] [--tls PORT] [--http PORT]\n"
         "                     [--https PORT] [--certificate PEM_FILE --key PEM_FILE] [--client-ca PEM_FILE]\n"
         "                     [--tls-version V] [--http-status CODE] [--http-path PATH]\n"
         "                     [--http-header \"NAME: VALUE\"]... [--output FILE|-]\n"
         "                     [--ready-file FILE] [--summary-json FILE] [--expect N] [--connection-numbers]\n"
         "\n"
         "Receives telemetry events and writes each as one line to the output.\n"
         "\n"
         "  --address ADDR        address to listen on (default 127.0.0.1)\n"
         "  --tcp PORT            syslog over TCP, events separated by line feeds\n"
         "  --udp PORT            syslog over UDP, one event per datagram\n"
         "  --tls PORT            syslog over TLS, events separated by line feeds\n"
         "  --http PORT           HTTP POST bodies (gzip allowed), events separated by line feeds\n"
         "  --https PORT          the same over TLS\n"
         "                        PORT 0 picks a free port; give at least one protocol\n"
         "  --certificate FILE    server certificate chain (PEM), for --tls and --https\n"
         "  --key FILE            server private key (PEM), for --tls and --https\n"
         "  --client-ca FILE      require a client certificate issued by a CA of FILE (PEM);\n"
         "                        clients without one are refused in the handshake\n"
         "  --tls-version V       offer TLS version V only: 1.0, 1.1, 1.2 or 1.3 (default: what\n"
         "                        the TLS library allows)\n"
         "  --http-status CODE    status of every answer to a POST (default 204); events of\n"
         "                        a POST answered with a status outside 2xx are not written\n"
         "  --http-path PATH      take POSTs to PATH only (a query after it allowed, unless PATH\n"
         "                        holds one: then the whole target); others get 404\n"
         "  --http-header \"NAME: VALUE\"\n"
         "                        take POSTs only with header NAME (any case) given once with\n"
         "                        exactly VALUE; others get 401. May be given once per header;\n"
         "                        values are never printed. POSTs refused with 404 or 401 are\n"
         "                        counted as httpRefused, and their events are not written\n"
         "  --output FILE|-       where events go (default -: standard output)\n"
         "  --ready-file FILE     once listening, write the ports as JSON to FILE\n"
         "  --summary-json FILE   at exit, write the event counts as JSON to FILE, and when the\n"
         "                        first and the last event were written (firstEventUs,\n"
         "                        lastEventUs: microseconds since the epoch)\n"
         "  --expect N            stop by itself, as on SIGTERM, once N events have come\n"
         "  --connection-numbers  start each line with the number of its connection (1, 2, ...\n"
         "                        as they were accepted; 0 for UDP) and a space\n"
         "\n"
         "Runs until SIGINT or SIGTERM (or the --expect count), then prints a count of the\n"
         "events to standard error.\n"
         "Exit codes: 0 after a signal or the expected count, 1 when the sink fails, 2 for bad\n"
         "arguments.\n";
}

}  // namespace siem_sink
