// The loopback receiver as scripts use it: a process started with every
// protocol on free ports, fed over real sockets, stopped with SIGTERM.

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "child_process.h"
#include "host_program_support.h"
#include "temp_directory.h"
#include "test_certificates.h"

namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using Tcp = asio::ip::tcp;

constexpr auto kTimeout = std::chrono::seconds(20);

// Every line, empty ones too: an empty line in the output is a fault.
std::vector<std::string> AllLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Gzip(const std::string& text) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string compressed(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(compressed.data());
  stream.avail_out = static_cast<uInt>(compressed.size());
  const int result = deflate(&stream, Z_FINISH);
  compressed.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return compressed;
}

// Polls until `ready` holds, the program ends, or the time is up.
template <class Condition>
bool WaitWhileRunning(ChildProcess& child, Condition ready) {
  const auto deadline = std::chrono::steady_clock::now() + kTimeout;
  while (!ready()) {
    if (!child.Running() || std::chrono::steady_clock::now() > deadline) return ready();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

Tcp::endpoint Loopback(std::uint16_t port) { return {asio::ip::make_address("127.0.0.1"), port}; }

void SendOverTcp(asio::io_context& io, std::uint16_t port, const std::vector<std::string>& pieces) {
  Tcp::socket socket(io);
  socket.connect(Loopback(port));
  for (const std::string& piece : pieces) {
    asio::write(socket, asio::buffer(piece));
    // Apart in time, so that the sink likely reads a line in two parts.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  socket.shutdown(Tcp::socket::shutdown_both);
}

using Headers = std::vector<std::pair<std::string, std::string>>;

template <class Stream>
unsigned Post(Stream& stream, std::uint16_t port, const std::string& body, bool gzip,
              const std::string& target = "/events", const Headers& headers = {}) {
  http::request<http::string_body> request{http::verb::post, target, 11};
  request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
  request.set(http::field::content_type, "application/json");
  if (gzip) request.set(http::field::content_encoding, "gzip");
  for (const auto& [name, value] : headers) request.insert(name, value);
  request.body() = body;
  request.keep_alive(true);
  request.prepare_payload();
  http::write(stream, request);
  boost::beast::flat_buffer buffer;
  http::response<http::string_body> response;
  http::read(stream, buffer, response);
  return response.result_int();
}

class SiemSinkTest : public testing::Test {
 protected:
  std::filesystem::path File(const char* name) const { return m_directory.Path() / name; }

  TempDirectory m_directory;
};

TEST_F(SiemSinkTest, WritesTheEventsOfEveryProtocolAndCountsThem) {
  const TestCertificates& certificates = TestCertificates::Get();
  WriteText(File("server.pem"), certificates.serverCertPem);
  WriteText(File("server.key"), certificates.serverKeyPem);

  // Events to standard output, the default, redirected by the test.
  ChildProcess sink(EDR_SIEM_SINK_PATH,
                    {"--tcp", "0", "--udp", "0", "--tls", "0", "--http", "0", "--https", "0", "--certificate",
                     File("server.pem").string(), "--key", File("server.key").string(), "--ready-file",
                     File("ready.json").string(), "--summary-json", File("summary.json").string()},
                    {.stdoutFile = File("events.txt"), .stderrFile = File("stderr.txt")});
  ASSERT_TRUE(WaitWhileRunning(sink, [&] { return std::filesystem::exists(File("ready.json")); }))
      << ReadText(File("stderr.txt"));
  const boost::json::object ready = boost::json::parse(ReadText(File("ready.json"))).as_object();
  ASSERT_EQ(ready.size(), 5u) << boost::json::serialize(ready);
  std::map<std::string, std::uint16_t> port;
  for (const char* protocol : {"tcp", "udp", "tls", "http", "https"}) {
    port[protocol] = static_cast<std::uint16_t>(ready.at(protocol).to_number<int>());
    ASSERT_NE(port[protocol], 0) << protocol;
  }

  asio::io_context io;
  const std::string unicode = "tcp-a2 \xC3\xBCn\xC3\xAF\x63\xC3\xB8\x64\xC3\xA9 \xE2\x9C\x93 \xE6\x97\xA5\xE6\x9C\xAC";
  SendOverTcp(io, port["tcp"], {"tcp-a1\n" + unicode + "\r\n\n", "tcp-a3 no line feed at the close"});
  SendOverTcp(io, port["tcp"], {"tcp-b1\ntcp-", "b2\n"});

  asio::ip::udp::socket udp(io, asio::ip::udp::v4());
  for (const std::string_view datagram : {"udp-1\n", "udp-2", "{\"event\": \"udp-3\"}"}) {
    udp.send_to(asio::buffer(datagram), asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), port["udp"]));
  }

  // Not TLS at all: the sink drops this client and goes on.
  {
    Tcp::socket garbage(io);
    garbage.connect(Loopback(port["tls"]));
    asio::write(garbage, asio::buffer(std::string("this is no TLS handshake\n")));
    boost::system::error_code closed;
    char byte;
    while (!closed) garbage.read_some(asio::buffer(&byte, 1), closed);
  }
  asio::ssl::context client(asio::ssl::context::tls_client);
  client.add_certificate_authority(asio::buffer(certificates.caPem));
  client.set_verify_mode(asio::ssl::verify_peer);
  {
    asio::ssl::stream<Tcp::socket> tls(io, client);
    tls.lowest_layer().connect(Loopback(port["tls"]));
    tls.handshake(asio::ssl::stream_base::client);
    asio::write(tls, asio::buffer(std::string("tls-1\ntls-2\n")));
    boost::system::error_code ignored;
    tls.shutdown(ignored);
  }

  // One kept-alive connection: gzip in two members, plain, then a body that
  // is not gzip. (HTTPS sends one member.)
  {
    Tcp::socket socket(io);
    socket.connect(Loopback(port["http"]));
    EXPECT_EQ(Post(socket, port["http"], Gzip("http-1\nhttp-2\n") + Gzip("\nhttp-3"), true), 204u);
    EXPECT_EQ(Post(socket, port["http"], "http-4\r\n", false), 204u);
    EXPECT_EQ(Post(socket, port["http"], "http-5 claims to be gzip\n", true), 400u);
  }
  {
    asio::ssl::stream<Tcp::socket> tls(io, client);
    tls.lowest_layer().connect(Loopback(port["https"]));
    tls.handshake(asio::ssl::stream_base::client);
    EXPECT_EQ(Post(tls, port["https"], Gzip("https-1\nhttps-2\n"), true), 204u);
  }

  const std::vector<std::string> expected = {
      "tcp-a1", unicode, "tcp-a3 no line feed at the close", "tcp-b1", "tcp-b2",
      "udp-1", "udp-2", "{\"event\": \"udp-3\"}",
      "tls-1", "tls-2",
      "http-1", "http-2", "http-3", "http-4",
      "https-1", "https-2"};
  // Every client is done; the sink may still be reading the last TCP bytes.
  EXPECT_TRUE(WaitWhileRunning(sink, [&] { return AllLines(ReadText(File("events.txt"))).size() >= expected.size(); }));
  sink.Terminate();
  const std::optional<int> exitCode = sink.WaitFor(kTimeout);
  ASSERT_TRUE(exitCode.has_value());
  EXPECT_EQ(*exitCode, 0) << ReadText(File("stderr.txt"));

  const std::string output = ReadText(File("events.txt"));
  EXPECT_TRUE(output.ends_with('\n'));
  const std::vector<std::string> lines = AllLines(output);
  std::vector<std::string> got = lines;
  std::vector<std::string> want = expected;
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want) << output;
  // The order of each connection is kept.
  const auto position = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line); };
  for (const std::vector<std::string>& connection :
       {std::vector<std::string>{"tcp-a1", unicode, "tcp-a3 no line feed at the close"},
        {"tcp-b1", "tcp-b2"}, {"tls-1", "tls-2"}, {"http-1", "http-2", "http-3", "http-4"}, {"https-1", "https-2"}}) {
    EXPECT_TRUE(std::is_sorted(connection.begin(), connection.end(),
                               [&](const std::string& a, const std::string& b) { return position(a) < position(b); }))
        << output;
  }

  boost::json::object summary = ReadJson(File("summary.json"));
  EXPECT_GT(Number(summary, "firstEventUs"), 0) << boost::json::serialize(summary);
  EXPECT_GE(Number(summary, "lastEventUs"), Number(summary, "firstEventUs"));
  summary.erase("firstEventUs");
  summary.erase("lastEventUs");
  EXPECT_EQ(summary, boost::json::parse(
                         R"({"received": 16, "tcp": 5, "udp": 3, "tls": 2, "http": 4, "https": 2, "httpRefused": 0})"));
  EXPECT_NE(
      ReadText(File("stderr.txt")).find("received 16 events: tcp 5, udp 3, tls 2, http 4, https 2; httpRefused 0\n"),
      std::string::npos)
      << ReadText(File("stderr.txt"));
}

// A benchmark's receiver: it ends by itself once the count it was told has
// come, over all protocols together, says when the first and the last event
// were written, and tells the connections apart. Until the count it keeps
// serving.
TEST_F(SiemSinkTest, AsABenchmarksReceiverItStopsAtTheExpectedCountAndNumbersConnections) {
  const auto now = [] {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  ChildProcess sink(EDR_SIEM_SINK_PATH,
                    {"--tcp", "0", "--udp", "0", "--expect", "5", "--connection-numbers", "--output",
                     File("events.txt").string(), "--ready-file", File("ready.json").string(), "--summary-json",
                     File("summary.json").string()},
                    {.stdoutFile = std::nullopt, .stderrFile = File("stderr.txt")});
  ASSERT_TRUE(WaitWhileRunning(sink, [&] { return std::filesystem::exists(File("ready.json")); }))
      << ReadText(File("stderr.txt"));
  const boost::json::object ready = ReadJson(File("ready.json"));
  const auto tcpPort = static_cast<std::uint16_t>(Number(ready, "tcp"));
  const auto udpPort = static_cast<std::uint16_t>(Number(ready, "udp"));
  const auto linesWritten = [&] { return AllLines(ReadText(File("events.txt"))).size(); };

  const std::int64_t before = now();
  asio::io_context io;
  Tcp::socket first(io), second(io);
  first.connect(Loopback(tcpPort));
  asio::write(first, asio::buffer(std::string("one\ntwo\n")));
  ASSERT_TRUE(WaitWhileRunning(sink, [&] { return linesWritten() >= 2; }));
  second.connect(Loopback(tcpPort));
  asio::write(second, asio::buffer(std::string("three\n")));
  ASSERT_TRUE(WaitWhileRunning(sink, [&] { return linesWritten() >= 3; }));
  EXPECT_TRUE(sink.Running()) << "stopped after 3 of 5 events";

  asio::ip::udp::socket udp(io, asio::ip::udp::v4());
  for (const std::string_view datagram : {"four", "five"}) {
    udp.send_to(asio::buffer(datagram), asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), udpPort));
  }
  const std::optional<int> exitCode = sink.WaitFor(kTimeout);
  const std::int64_t after = now();
  ASSERT_TRUE(exitCode.has_value()) << "still running after the expected count";
  EXPECT_EQ(*exitCode, 0) << ReadText(File("stderr.txt"));

  EXPECT_EQ(AllLines(ReadText(File("events.txt"))),
            (std::vector<std::string>{"1 one", "1 two", "2 three", "0 four", "0 five"}));
  const boost::json::object summary = ReadJson(File("summary.json"));
  EXPECT_EQ(Number(summary, "received"), 5);
  EXPECT_EQ(Number(summary, "tcp"), 3);
  EXPECT_EQ(Number(summary, "udp"), 2);
  EXPECT_LE(before, Number(summary, "firstEventUs"));
  EXPECT_LE(Number(summary, "firstEventUs"), Number(summary, "lastEventUs"));
  EXPECT_LE(Number(summary, "lastEventUs"), after);
  EXPECT_NE(ReadText(File("stderr.txt")).find("stopping after 5 events"), std::string::npos)
      << ReadText(File("stderr.txt"));
}

// A collector's path and token: only a POST to that path that carries the
// header once with its exact value is written. The others are answered,
// counted, and leave the connection open; no value is ever printed.
TEST_F(SiemSinkTest, HttpPathAndHeaderAreChecked) {
  ChildProcess sink(EDR_SIEM_SINK_PATH,
                    {"--http", "0", "--http-path", "/ingest", "--http-header", "Authorization: Bearer s3cret-token",
                     "--http-header", "X-Source:edr", "--output", File("events.txt").string(), "--ready-file",
                     File("ready.json").string(), "--summary-json", File("summary.json").string()},
                    {.stdoutFile = std::nullopt, .stderrFile = File("stderr.txt")});
  ASSERT_TRUE(WaitWhileRunning(sink, [&] { return std::filesystem::exists(File("ready.json")); }))
      << ReadText(File("stderr.txt"));
  const auto port = static_cast<std::uint16_t>(Number(ReadJson(File("ready.json")), "http"));

  const Headers good = {{"authorization", "Bearer s3cret-token"}, {"X-Source", "edr"}};
  Headers twice = good;
  twice.emplace_back("Authorization", "Bearer s3cret-other");
  asio::io_context io;
  Tcp::socket socket(io);
  socket.connect(Loopback(port));
  EXPECT_EQ(Post(socket, port, "taken-1\n", false, "/ingest?channel=edr", good), 204u);
  EXPECT_EQ(Post(socket, port, "wrong-path\n", false, "/ingest/more", good), 404u);
  EXPECT_EQ(Post(socket, port, "no-header\n", false, "/ingest", {{"X-Source", "edr"}}), 401u);
  EXPECT_EQ(Post(socket, port, "wrong-value\n", false, "/ingest",
                 {{"Authorization", "Bearer s3cret-tokeN"}, {"X-Source", "edr"}}),
            401u);
  EXPECT_EQ(Post(socket, port, Gzip("twice\n"), true, "/ingest", twice), 401u);
  EXPECT_EQ(Post(socket, port, Gzip("taken-2\n"), true, "/ingest", good), 204u);
  socket.close();

  sink.Terminate();
  const std::optional<int> exitCode = sink.WaitFor(kTimeout);
  ASSERT_TRUE(exitCode.has_value());
  EXPECT_EQ(*exitCode, 0) << ReadText(File("stderr.txt"));
  EXPECT_EQ(AllLines(ReadText(File("events.txt"))), (std::vector<std::string>{"taken-1", "taken-2"}));
  const boost::json::object summary = ReadJson(File("summary.json"));
  EXPECT_EQ(Number(summary, "http"), 2);
  EXPECT_EQ(Number(summary, "httpRefused"), 4);
  const std::string diagnostics = ReadText(File("stderr.txt"));
  EXPECT_NE(diagnostics.find("; httpRefused 4\n"), std::string::npos) << diagnostics;
  EXPECT_EQ(diagnostics.find("s3cret"), std::string::npos) << diagnostics;
}

TEST_F(SiemSinkTest, ABadArgumentExitsWithTwoAndNamesTheOption) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"--tcp", "0", "--udp", "65536"}, "--udp"},
      {{"--tcp", "0", "--expect", "0"}, "--expect"},
      {{"--tcp", "0", "--client-ca", "ca.pem"}, "--client-ca"},
      {{"--https", "0", "--certificate", "server.pem", "--key", "server.key", "--tls-version", "1.4"},
       "--tls-version"},
      {{"--http", "0", "--http-header", "Authorization Bearer s3cret"}, "--http-header"},
      {{"--tcp", "0", "--http-path", "/ingest"}, "--http-path"},
  };
  for (const auto& [arguments, option] : cases) {
    SCOPED_TRACE(option);
    ChildProcess sink(EDR_SIEM_SINK_PATH, arguments, {.stdoutFile = std::nullopt, .stderrFile = File("stderr.txt")});
    const std::optional<int> exitCode = sink.WaitFor(kTimeout);
    ASSERT_TRUE(exitCode.has_value());
    EXPECT_EQ(*exitCode, 2);
    EXPECT_NE(ReadText(File("stderr.txt")).find(option + ":"), std::string::npos) << ReadText(File("stderr.txt"));
    EXPECT_EQ(ReadText(File("stderr.txt")).find("s3cret"), std::string::npos) << ReadText(File("stderr.txt"));
  }
}

}  // namespace
