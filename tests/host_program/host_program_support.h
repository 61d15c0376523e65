#pragma once

// What the process tests of the host program share: files, numbered events,
// the example configuration, and a run of the host program over the examples.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <boost/json.hpp>

#include "child_process.h"

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) { std::ofstream(path) << text; }

// The non-empty lines.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// An empty object when the file holds no JSON object (yet).
inline boost::json::object ReadJson(const std::filesystem::path& path) {
  boost::system::error_code error;
  boost::json::value value = boost::json::parse(ReadText(path), error);
  return !error && value.is_object() ? value.as_object() : boost::json::object{};
}

// -1 when the key is missing or no number.
inline std::int64_t Number(const boost::json::object& object, std::string_view key) {
  const boost::json::value* value = object.if_contains(key);
  return value && value->is_number() ? value->to_number<std::int64_t>() : -1;
}

// An event of a type the example configuration sends, numbered `seq`.
inline std::string NumberedEvent(std::uint64_t seq, std::size_t padding = 64) {
  return R"({"eventType":"NetworkConnect","throttlingId":7,"ioas":[],"event":{"eventType":"NetworkConnect",)"
         R"("throttlingId":7,"seq":)" +
         std::to_string(seq) + R"(,"pad":")" + std::string(padding, 'p') + "\"}}\n";
}

// The number of an event as the sink holds it, or the spool (as an escaped
// string in its record); -1 for none.
inline std::int64_t SeqOf(const std::string& event) {
  for (const std::string key : {"\"seq\":", "\\\"seq\\\":"}) {
    if (const std::size_t at = event.find(key); at != std::string::npos)
      return std::stoll(event.substr(at + key.size()));
  }
  return -1;
}

inline std::multiset<std::int64_t> SeqsOf(const std::vector<std::string>& events) {
  std::multiset<std::int64_t> seqs;
  for (const std::string& event : events) seqs.insert(SeqOf(event));
  return seqs;
}

// Polls until `ready` holds or the time is up; returns whether it holds.
template <class Condition>
bool WaitUntil(Condition ready, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  for (const auto deadline = std::chrono::steady_clock::now() + timeout; !ready();) {
    if (std::chrono::steady_clock::now() >= deadline) return ready();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The example configuration with one endpoint on the loopback address and a
// short transfer time, written to `dir`. TLS trusts `dir`/ca.pem.
inline std::filesystem::path ExampleConfig(const std::filesystem::path& dir, const std::string& protocol,
                                           std::int64_t port, const std::string& extra = "") {
  boost::json::object config = ReadJson(std::filesystem::path(EDR_EXAMPLES_DIR) / "config.json");
  const std::string host = protocol.starts_with("HTTP") ? "http://127.0.0.1" : "127.0.0.1";
  config["endpoints"] = boost::json::array{{{"host", host}, {"port", port}, {"protocol", protocol}}};
  config["maximumDataTransferTime"] = 1;
  config["dataFolder"] = (dir / ("data-" + protocol)).string();
  if (protocol == "TCP_TLS") config["serverCertificatesFile"] = (dir / "ca.pem").string();
  std::string text = boost::json::serialize(config);
  if (!extra.empty()) text.insert(text.size() - 1, "," + extra);
  const std::filesystem::path path = dir / "config.json";
  WriteText(path, text);
  return path;
}

// Runs the host program to its end and returns its exit code. Its summary
// goes to `dir`/summary.json, its output to `dir`/host.out and host.err.
inline int RunHost(const std::filesystem::path& dir, const std::filesystem::path& config, const std::string& events,
                   const std::vector<std::string>& extra = {}) {
  std::vector<std::string> arguments{"--config", config.string(), "--events", events, "--summary-json",
                                     (dir / "summary.json").string(), "--component", EDR_COMPONENT_PATH};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  ChildProcess::Options options;
  options.stdoutFile = dir / "host.out";
  options.stderrFile = dir / "host.err";
  return ChildProcess(EDR_TELEMETRY_HOST_PATH, arguments, options).Wait();
}
