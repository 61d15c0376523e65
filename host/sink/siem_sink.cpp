#include "host/sink/siem_sink.h"

#include <chrono>
#include <csignal>
#include <exception>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include <openssl/ssl.h>

#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>

#include "host/sink/atomic_file.h"
#include "host/sink/diagnostic_log.h"
#include "host/sink/http_session.h"
#include "host/sink/stream_session.h"

namespace siem_sink {
namespace {

using Tcp = boost::asio::ip::tcp;
using TlsStream = boost::asio::ssl::stream<Tcp::socket>;

// Threads that run the connections' handlers. More than one, so that one
// connection's TLS work or large body does not hold up the others; each
// connection stays on its own strand whatever the number.
constexpr unsigned kServiceThreads = 2;

[[noreturn]] void RefuseOption(std::string_view option, const std::string& value, const std::string& why) {
  throw std::invalid_argument(std::string(option) + " " + value + ": " + why);
}

// `version` is one that SinkOptions accepts.
void OfferOnly(boost::asio::ssl::context& tls, const std::string& version) {
  const int number = version == "1.0"   ? TLS1_VERSION
                     : version == "1.1" ? TLS1_1_VERSION
                     : version == "1.2" ? TLS1_2_VERSION
                                        : TLS1_3_VERSION;
  SSL_CTX* context = tls.native_handle();
  // TLS 1.0 and 1.1 sign their handshakes with SHA-1, which OpenSSL 3 allows
  // at security level 0 only.
  if (number < TLS1_2_VERSION) SSL_CTX_set_security_level(context, 0);
  if (SSL_CTX_set_min_proto_version(context, number) != 1 || SSL_CTX_set_max_proto_version(context, number) != 1) {
    RefuseOption("--tls-version", version, "not supported by this TLS library");
  }
}

}  // namespace

SiemSink::SiemSink(const SinkOptions& options)
    : m_options(options),
      m_httpAccess(options.httpPath, options.httpHeaders),
      m_signals(m_io, SIGINT, SIGTERM) {
  boost::system::error_code error;
  const boost::asio::ip::address address = boost::asio::ip::make_address(options.address, error);
  if (error) RefuseOption("--address", options.address, "not an IP address");

  try {
    m_writer = std::make_unique<EventWriter>(options.output, options.numberConnections);
  } catch (const std::system_error& failure) {
    RefuseOption("--output", options.output, failure.code().message());
  }

  if (options.NeedsTls()) {
    m_tls.emplace(boost::asio::ssl::context::tls_server);
    m_tls->set_options(boost::asio::ssl::context::default_workarounds | boost::asio::ssl::context::no_sslv2 |
                       boost::asio::ssl::context::no_sslv3);
    m_tls->use_certificate_chain_file(options.certificateFile, error);
    if (error) RefuseOption("--certificate", options.certificateFile, error.message());
    // Checked against the certificate: a key of another pair fails here,
    // not at each client's handshake.
    m_tls->use_private_key_file(options.keyFile, boost::asio::ssl::context::pem, error);
    if (error) RefuseOption("--key", options.keyFile, error.message());
    if (!options.tlsVersion.empty()) OfferOnly(*m_tls, options.tlsVersion);
    if (!options.clientCaFile.empty()) {
      m_tls->load_verify_file(options.clientCaFile, error);
      if (error) RefuseOption("--client-ca", options.clientCaFile, error.message());
      // The CA names go into the certificate request: a client with several
      // certificates picks the one these CAs issued.
      STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(options.clientCaFile.c_str());
      if (!names) RefuseOption("--client-ca", options.clientCaFile, "no certificate in it");
      SSL_CTX_set_client_CA_list(m_tls->native_handle(), names);
      m_tls->set_verify_mode(boost::asio::ssl::verify_peer | boost::asio::ssl::verify_fail_if_no_peer_cert);
    }
  }

  if (options.expectedEvents > 0) {
    // From the thread of the batch that completed the count, onto the I/O
    // context, as the signal's stop is.
    m_writer->NotifyAt(options.expectedEvents, [this] { boost::asio::post(m_io, [this] { OnExpectedCount(); }); });
  }

  for (const Protocol protocol : kProtocols) {
    if (!options.Enabled(protocol)) continue;
    if (protocol == Protocol::kUdp) {
      m_datagrams = std::make_unique<DatagramReceiver>(
          m_io, boost::asio::ip::udp::endpoint(address, *options.Port(protocol)), *m_writer);
    } else {
      ListenTcp(protocol, address);
    }
  }
}

SiemSink::~SiemSink() = default;

void SiemSink::ListenTcp(Protocol protocol, const boost::asio::ip::address& address) {
  EventWriter& writer = *m_writer;
  const unsigned status = m_options.httpStatus;
  HttpAccess& access = m_httpAccess;
  boost::asio::ssl::context* const tls = m_tls ? &*m_tls : nullptr;
  TcpListener::ConnectionFactory factory;
  switch (protocol) {
    case Protocol::kTcp:
      factory = [&writer](Tcp::socket socket, std::string peer) -> std::shared_ptr<Connection> {
        return std::make_shared<StreamSession<Tcp::socket>>(std::move(socket), Protocol::kTcp, std::move(peer),
                                                            writer);
      };
      break;
    case Protocol::kTls:
      factory = [&writer, tls](Tcp::socket socket, std::string peer) -> std::shared_ptr<Connection> {
        return std::make_shared<StreamSession<TlsStream>>(TlsStream(std::move(socket), *tls), Protocol::kTls,
                                                          std::move(peer), writer);
      };
      break;
    case Protocol::kHttp:
      factory = [&writer, status, &access](Tcp::socket socket, std::string peer) -> std::shared_ptr<Connection> {
        return std::make_shared<HttpSession<Tcp::socket>>(std::move(socket), Protocol::kHttp, std::move(peer),
                                                          writer, status, access);
      };
      break;
    case Protocol::kHttps:
      factory = [&writer, tls, status, &access](Tcp::socket socket,
                                                std::string peer) -> std::shared_ptr<Connection> {
        return std::make_shared<HttpSession<TlsStream>>(TlsStream(std::move(socket), *tls), Protocol::kHttps,
                                                        std::move(peer), writer, status, access);
      };
      break;
    case Protocol::kUdp:
      return;
  }
  m_listeners.emplace_back(
      protocol, std::make_unique<TcpListener>(m_io, Tcp::endpoint(address, *m_options.Port(protocol)), protocol,
                                              std::move(factory)));
}

int SiemSink::Run() {
  m_signals.async_wait([this](const boost::system::error_code& error, int signal) { OnSignal(error, signal); });
  for (const auto& [protocol, listener] : m_listeners) listener->Start();
  if (m_datagrams) m_datagrams->Start();
  // Every socket is listening already: clients that come before the threads
  // run wait in the system's queues.
  WriteReadyFile();

  std::vector<std::thread> threads;
  for (unsigned i = 1; i < kServiceThreads; ++i) threads.emplace_back([this] { ServeInThisThread(); });
  ServeInThisThread();
  for (std::thread& thread : threads) thread.join();

  const bool countsWritten = ReportCounts();
  return countsWritten && !m_writer->Failed() ? 0 : 1;
}

void SiemSink::ServeInThisThread() {
  // run() returns once nothing is left to do: after the stop, when the last
  // connection has written its events and closed.
  for (;;) {
    try {
      m_io.run();
      return;
    } catch (const std::exception& failure) {
      // A handler that failed (out of memory) costs its connection, not the
      // sink.
      DiagnosticLog::Line(std::string("a connection failed: ") + failure.what());
    }
  }
}

void SiemSink::OnSignal(const boost::system::error_code& error, int signal) {
  if (error) return;
  DiagnosticLog::Line(std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
  // The signals stay caught, without anyone waiting for them: a second one
  // during the stop neither kills the sink halfway through writing nor keeps
  // the I/O context busy.
  StopServing();
}

void SiemSink::OnExpectedCount() {
  DiagnosticLog::Line("stopping after " + std::to_string(m_options.expectedEvents) + " events, as expected");
  // No wait is left pending that would keep the I/O context running; the
  // signals stay caught, as after one came.
  m_signals.cancel();
  StopServing();
}

void SiemSink::StopServing() {
  for (const auto& [protocol, listener] : m_listeners) listener->Stop();
  if (m_datagrams) m_datagrams->Stop();
}

void SiemSink::WriteReadyFile() const {
  std::string listening;
  boost::json::object ports;
  for (const Protocol protocol : kProtocols) {
    std::uint16_t port = 0;
    if (protocol == Protocol::kUdp && m_datagrams) {
      port = m_datagrams->Port();
    } else {
      for (const auto& [listened, listener] : m_listeners) {
        if (listened == protocol) port = listener->Port();
      }
    }
    if (port == 0) continue;
    ports[ProtocolName(protocol)] = port;
    const bool ipv6 = m_options.address.find(':') != std::string::npos;
    listening += (listening.empty() ? "" : ", ") + std::string(ProtocolName(protocol)) + " " +
                 (ipv6 ? "[" + m_options.address + "]" : m_options.address) + ":" + std::to_string(port);
  }
  DiagnosticLog::Line("listening on " + listening);
  if (!m_options.readyFile.empty()) AtomicFile::Write(m_options.readyFile, boost::json::serialize(ports));
}

bool SiemSink::ReportCounts() const {
  const EventWriter::Counts counts = m_writer->Received();
  std::uint64_t total = 0;
  for (const std::uint64_t count : counts) total += count;

  std::string line = "received " + std::to_string(total) + " events:";
  boost::json::object summary;
  summary["received"] = total;
  for (const Protocol protocol : kProtocols) {
    const std::uint64_t count = counts[ProtocolIndex(protocol)];
    line += std::string(protocol == Protocol::kTcp ? " " : ", ") + std::string(ProtocolName(protocol)) + " " +
            std::to_string(count);
    summary[ProtocolName(protocol)] = count;
  }
  // POSTs refused for their target or their headers: a client sending to
  // the wrong place, or without its credentials, shows here.
  const std::uint64_t refused = m_httpAccess.Refused();
  line += "; httpRefused " + std::to_string(refused);
  summary["httpRefused"] = refused;
  if (const auto times = m_writer->ArrivalTimes()) {
    const auto micros = [](EventWriter::Clock::time_point at) {
      return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
    };
    summary["firstEventUs"] = micros(times->first);
    summary["lastEventUs"] = micros(times->second);
  }
  // The summary is the sink's result, not a diagnostic: printed as it is.
  line += '\n';
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);

  if (m_options.summaryJsonFile.empty()) return true;
  try {
    AtomicFile::Write(m_options.summaryJsonFile, boost::json::serialize(summary));
    return true;
  } catch (const std::system_error& failure) {
    DiagnosticLog::Line(failure.what());
    return false;
  }
}

}  // namespace siem_sink
