// Syslog throughput over loopback: packages of 1024 events of about 1.5 KB,
// each package one message as the syslog sender writes it, through the
// client, next to a bare blocking write of the same bytes on the same kind
// of connection. The receiver only counts bytes. On a small machine the
// figures vary from run to run; compare them over interleaved repetitions
// (--benchmark_repetitions=10 --benchmark_enable_random_interleaving=true
// --benchmark_report_aggregates_only=true).
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>

#include "component/sendara/syslog/source/syslog_client_factory_impl/syslog_client_factory_impl.h"
#include "sample_event.h"
#include "test_certificates.h"

namespace {

using boost::asio::ip::tcp;
using namespace sendara::syslog;

const std::string& Package() {
  static const std::string package = [] {
    std::string event = bench::kEvent;
    for (char& c : event) {
      if (c == '\n') c = ' ';
    }
    std::string text;
    for (int i = 0; i < 1024; ++i) text += event + "\n";
    return text;
  }();
  return package;
}

// The sender joins each package into a string of its own and hands it over:
// every send gets a fresh copy, made outside the timed part.
std::string FreshPackage(benchmark::State& state) {
  state.PauseTiming();
  std::string package = Package();
  state.ResumeTiming();
  return package;
}

// Accepts connections on 127.0.0.1 (after a TLS handshake, or plain) and
// reads without looking.
class CountingReceiver {
 public:
  explicit CountingReceiver(bool tls) : m_tls(tls), m_context(boost::asio::ssl::context::tls_server),
                                         m_acceptor(m_io, {boost::asio::ip::make_address("127.0.0.1"), 0}) {
    if (m_tls) {
      const auto& certificates = TestCertificates::Get();
      m_context.use_certificate_chain(boost::asio::buffer(certificates.serverCertPem));
      m_context.use_private_key(boost::asio::buffer(certificates.serverKeyPem), boost::asio::ssl::context::pem);
    }
    Accept();
    m_thread = std::thread([this] { m_io.run(); });
  }
  ~CountingReceiver() {
    m_io.stop();
    m_thread.join();
  }
  std::string Port() const { return std::to_string(m_acceptor.local_endpoint().port()); }

 private:
  using TlsStream = boost::asio::ssl::stream<tcp::socket>;
  void Accept() {
    m_acceptor.async_accept([this](const boost::system::error_code& error, tcp::socket socket) {
      if (error) return;
      if (m_tls) {
        auto stream = std::make_shared<TlsStream>(std::move(socket), m_context);
        stream->async_handshake(TlsStream::server, [this, stream](const boost::system::error_code& e) {
          // Counted as they arrive, not decrypted: on a small machine a
          // decrypting receiver takes a core from the sender it measures.
          if (!e) Read(stream, &stream->next_layer());
        });
      } else {
        auto plain = std::make_shared<tcp::socket>(std::move(socket));
        Read(plain, plain.get());
      }
      Accept();
    });
  }
  // Reads `socket` until it ends; `owner` keeps it alive meanwhile.
  template <class Owner>
  void Read(std::shared_ptr<Owner> owner, tcp::socket* socket) {
    socket->async_read_some(boost::asio::buffer(m_buffer), [this, owner, socket](const boost::system::error_code& error,
                                                                                std::size_t) {
      if (!error) Read(owner, socket);
    });
  }

  const bool m_tls;
  boost::asio::io_context m_io;
  boost::asio::ssl::context m_context;
  tcp::acceptor m_acceptor;
  char m_buffer[256 * 1024];
  std::thread m_thread;
};

void Run(benchmark::State& state, SyslogProtocol protocol) {
  CountingReceiver receiver(protocol == SyslogProtocol::EncryptedTcp);
  SyslogClientSettings settings;
  settings.protocol = protocol;
  settings.timeoutConnection = 5000;
  settings.timeoutRequest = 5000;
  std::vector<std::uint8_t> ca(TestCertificates::Get().caPem.begin(), TestCertificates::Get().caPem.end());
  settings.serverCerts = ca;
  SyslogClientFactoryImpl factory(nullptr, nullptr, {}, {});
  auto client = factory.CreateSyslogClient(settings);
  const SyslogServer server{"127.0.0.1", receiver.Port()};
  // Connected before the timed part, as the bare writes are: the first send
  // also resolves, connects and, for TLS, loads the trust store and shakes
  // hands, some tens of milliseconds that would otherwise be spread over
  // however many packages the run happens to time.
  client->MakeRequestAsync(server, Package());
  for (auto _ : state) client->MakeRequestAsync(server, FreshPackage(state));
  client->WaitAndCloseConnections();
  state.SetItemsProcessed(state.iterations() * 1024);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Package().size()));
}

void BM_SyslogTcp(benchmark::State& state) { Run(state, SyslogProtocol::Tcp); }
BENCHMARK(BM_SyslogTcp)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BareTcp(benchmark::State& state) {
  CountingReceiver receiver(false);
  boost::asio::io_context io;
  tcp::socket socket(io);
  socket.connect({boost::asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(std::stoi(receiver.Port()))});
  for (auto _ : state) boost::asio::write(socket, boost::asio::buffer(FreshPackage(state)));
  state.SetItemsProcessed(state.iterations() * 1024);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Package().size()));
}
BENCHMARK(BM_BareTcp)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SyslogTls(benchmark::State& state) { Run(state, SyslogProtocol::EncryptedTcp); }
BENCHMARK(BM_SyslogTls)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BareTls(benchmark::State& state) {
  CountingReceiver receiver(true);
  boost::asio::io_context io;
  boost::asio::ssl::context context(boost::asio::ssl::context::tls_client);
  context.add_certificate_authority(boost::asio::buffer(TestCertificates::Get().caPem));
  boost::asio::ssl::stream<tcp::socket> stream(io, context);
  stream.set_verify_mode(boost::asio::ssl::verify_peer);
  stream.lowest_layer().connect(
      {boost::asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(std::stoi(receiver.Port()))});
  stream.handshake(boost::asio::ssl::stream_base::client);
  for (auto _ : state) boost::asio::write(stream, boost::asio::buffer(FreshPackage(state)));
  state.SetItemsProcessed(state.iterations() * 1024);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Package().size()));
}
BENCHMARK(BM_BareTls)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
