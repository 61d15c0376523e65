// HTTP throughput over loopback: packages of 1024 events of about 1.5 KB,
// gzip-compressed at level 5, each package one POST, through the whole HTTP
// sender (joining, compressing, the request layer, the host's libcurl
// client), next to a bare libcurl handle that compresses the same text with
// zlib and posts it on its kept-alive connection. The receiver only counts
// bytes and answers 204. GzipZlib and GzipLibdeflate set the two gzip
// writers side by side on the same package. On a small machine the figures vary from run to
// run; compare them over interleaved repetitions
// (--benchmark_repetitions=10 --benchmark_enable_random_interleaving=true
// --benchmark_report_aggregates_only=true).
#include <curl/curl.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/asio.hpp>

#include "component/sendara/base/detail/common/stop_source.h"
#include "component/sendara/base/detail/request_sender/request_sender_string_factory.h"
#include "component/sendara/edr_telemetry/source/client/edr_telemetry_client_settings_provider.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/client_request_sender_string_factory.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/http_request_sender.h"
#include "host/http/http_client_factory.h"
#include "host/service_locator.h"
#include "host/tracer.h"
#include "sample_event.h"

namespace {

using boost::asio::ip::tcp;
using namespace sendara;
using namespace sendara::edr_telemetry;

constexpr int kEventsPerPackage = 1024;
constexpr int kGzipLevel = 5;

// Events as the queue holds them: one line each.
const std::string& Event() {
  static const std::string event = [] {
    std::string text = bench::kEvent;
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
  }();
  return event;
}

// Reads requests on 127.0.0.1 on a thread of its own, finds where each ends
// (the head, then Content-Length bytes, never looked at) and answers 204:
// parsing the body or the headers in full would cost it more than the
// client it measures.
class CountingHttpReceiver {
 public:
  CountingHttpReceiver() : m_acceptor(m_io, {boost::asio::ip::make_address("127.0.0.1"), 0}) {
    Accept();
    m_thread = std::thread([this] { m_io.run(); });
  }
  ~CountingHttpReceiver() {
    m_io.stop();
    m_thread.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_acceptor.local_endpoint().port()) + "/"; }

 private:
  struct Connection {
    explicit Connection(tcp::socket s) : socket(std::move(s)) {}
    tcp::socket socket;
    std::array<char, 65536> buffer;
    // The head read so far; empty while a body is being skipped.
    std::string head;
    std::uint64_t bodyLeft = 0;
  };

  static constexpr std::string_view kAnswer = "HTTP/1.1 204 No Content\r\n\r\n";

  void Accept() {
    m_acceptor.async_accept([this](const boost::system::error_code& error, tcp::socket socket) {
      if (error) return;
      socket.set_option(tcp::no_delay(true));
      Read(std::make_shared<Connection>(std::move(socket)));
      Accept();
    });
  }

  static std::uint64_t ContentLength(std::string_view head) {
    static constexpr std::string_view kName = "\r\ncontent-length:";
    const auto at = std::search(head.begin(), head.end(), kName.begin(), kName.end(), [](char a, char b) {
      return std::tolower(static_cast<unsigned char>(a)) == b;
    });
    if (at == head.end()) return 0;
    return std::stoull(std::string(at + kName.size(), std::find(at + kName.size(), head.end(), '\r')));
  }

  void Read(std::shared_ptr<Connection> connection) {
    connection->socket.async_read_some(
        boost::asio::buffer(connection->buffer),
        [this, connection](const boost::system::error_code& error, std::size_t size) {
          if (error) return;
          if (Consume(*connection, {connection->buffer.data(), size})) {
            boost::asio::async_write(connection->socket, boost::asio::buffer(kAnswer),
                                     [this, connection](const boost::system::error_code& e, std::size_t) {
                                       if (!e) Read(connection);
                                     });
          } else {
            Read(connection);
          }
        });
  }

  // True when a request has ended with these bytes. A client sends the next
  // request only after the answer, so nothing follows in the same read.
  static bool Consume(Connection& connection, std::string_view bytes) {
    if (connection.bodyLeft == 0) {
      connection.head.append(bytes);
      const std::size_t end = connection.head.find("\r\n\r\n");
      if (end == std::string::npos) return false;
      const std::uint64_t length = ContentLength(std::string_view(connection.head).substr(0, end + 2));
      const std::uint64_t arrived = connection.head.size() - (end + 4);
      connection.head.clear();
      connection.bodyLeft = length - std::min(length, arrived);
      return connection.bodyLeft == 0;
    }
    connection.bodyLeft -= std::min<std::uint64_t>(connection.bodyLeft, bytes.size());
    return connection.bodyLeft == 0;
  }

  boost::asio::io_context m_io;
  tcp::acceptor m_acceptor;
  std::thread m_thread;
};

CountingHttpReceiver& Receiver() {
  static CountingHttpReceiver receiver;
  return receiver;
}

void HttpSenderCompressed(benchmark::State& state) {
  const std::string url = Receiver().Url();
  // Warnings only, as a host traces in normal operation.
  const auto hostTracer = reference_host::Tracer::Create(500);
  const oru::RefPtr<oru::ITracer> tracer(hostTracer.Get());
  const auto hostFactory = reference_host::HttpClientFactory::Create();
  const auto locator = reference_host::ServiceLocator::Create();
  locator->Register<oru::IHttpClientFactory>(oru::RefPtr<oru::IHttpClientFactory>(hostFactory.Get()));
  EdrTelemetryClientSettings settings;
  settings.endpoints = {{EdrTelemetryProtocol::HTTP_COMPRESSED, url}};
  settings.timeoutConnection = 5000;
  settings.timeoutRequest = 30000;
  settings.gzipCompressionLevel = kGzipLevel;
  const auto provider = std::make_shared<EdrTelemetryClientSettingsProvider>(tracer, settings);
  HttpRequestSender sender(
      tracer, url, true,
      std::make_shared<ClientRequestSenderStringFactory>(
          std::make_shared<base::RequestSenderStringFactory>(oru::RefPtr<oru::IServiceLocator>(locator.Get()),
                                                             tracer, base::SensitiveDataTracePolicy()),
          provider));
  const std::vector<std::string_view> package(kEventsPerPackage, Event());
  base::StopSource stop;

  std::uint64_t sent = 0;
  for (auto _ : state) {
    try {
      sender.Send(package, sent, stop.GetToken());
    } catch (const std::exception&) {
      state.SkipWithError("the package was not delivered");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kEventsPerPackage);
}

std::string Gzip(const std::string& text, int level = kGzipLevel) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

std::size_t Discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

void BareLibcurlCompressed(benchmark::State& state) {
  const std::string url = Receiver().Url();
  std::string text;
  for (int i = 0; i < kEventsPerPackage; ++i) text += Event() + "\n";

  curl_global_init(CURL_GLOBAL_DEFAULT);
  CURL* curl = curl_easy_init();
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, "Content-type: application/json; charset=utf-8");
  headers = curl_slist_append(headers, "Content-Encoding: gzip");
  headers = curl_slist_append(headers, "Expect:");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Discard);

  for (auto _ : state) {
    const std::string body = Gzip(text);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    long status = 0;
    if (curl_easy_perform(curl) != CURLE_OK || curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
        status != 204) {
      state.SkipWithError("the package was not delivered");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kEventsPerPackage);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
}

BENCHMARK(HttpSenderCompressed)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BareLibcurlCompressed)->UseRealTime()->Unit(benchmark::kMillisecond);

// The two gzip writers on one package at the levels the settings allow:
// speed (items are events), and the compressed size over the input
// ("ratio", lower is better).
// A package of one event repeated compresses far better than real ones: with
// EDR_GZIP_PACKAGE naming a file of events, one a line (the e2e corpus's
// events, say), its first lines make the package.
std::string PackageText() {
  std::string text;
  if (const char* path = std::getenv("EDR_GZIP_PACKAGE")) {
    std::ifstream file(path);
    std::string line;
    for (int i = 0; i < kEventsPerPackage && std::getline(file, line); ++i) text += line + "\n";
    if (!text.empty()) return text;
  }
  for (int i = 0; i < kEventsPerPackage; ++i) text += Event() + "\n";
  return text;
}

void GzipZlib(benchmark::State& state) {
  const std::string text = PackageText();
  std::size_t size = 0;
  for (auto _ : state) size = Gzip(text, static_cast<int>(state.range(0))).size();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
  state.SetItemsProcessed(state.iterations() * std::count(text.begin(), text.end(), '\n'));
  state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(text.size());
}

void GzipLibdeflate(benchmark::State& state) {
  const std::string text = PackageText();
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(static_cast<int>(state.range(0)));
  std::string out(libdeflate_gzip_compress_bound(compressor, text.size()), '\0');
  std::size_t size = 0;
  for (auto _ : state) size = libdeflate_gzip_compress(compressor, text.data(), text.size(), out.data(), out.size());
  libdeflate_free_compressor(compressor);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
  state.SetItemsProcessed(state.iterations() * std::count(text.begin(), text.end(), '\n'));
  state.counters["ratio"] = static_cast<double>(size) / static_cast<double>(text.size());
}

BENCHMARK(GzipZlib)->Arg(0)->Arg(5)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(GzipLibdeflate)->Arg(0)->Arg(5)->Arg(9)->Unit(benchmark::kMillisecond);

}  // namespace
