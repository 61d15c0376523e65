#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "child_process.h"
#include "host_program_support.h"

// The loopback sink as a process, listening when the constructor returns.
// `arguments` name the protocols and ports ("--tcp", "0", ...) and anything
// else; the output, ready and summary files go to `dir` under `name`.
class SinkProcess {
 public:
  SinkProcess(const std::filesystem::path& dir, const std::vector<std::string>& arguments,
              const std::string& name = "sink")
      : m_output(dir / (name + ".ndjson")), m_ready(dir / (name + "-ready.json")),
        m_summary(dir / (name + "-summary.json")) {
    std::vector<std::string> all{"--output",       m_output.string(), "--ready-file", m_ready.string(),
                                 "--summary-json", m_summary.string()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::filesystem::remove(m_ready);
    m_process = std::make_unique<ChildProcess>(EDR_SIEM_SINK_PATH, all);
    WaitUntil([&] { return !ReadJson(m_ready).empty(); }, std::chrono::seconds(10));
    m_ports = ReadJson(m_ready);
    EXPECT_FALSE(m_ports.empty()) << "the sink did not start";
  }

  // The port it listens on for "tcp", "udp", "tls", "http" or "https".
  std::int64_t Port(const std::string& protocol) const { return Number(m_ports, protocol); }
  const std::filesystem::path& Output() const { return m_output; }
  std::vector<std::string> Received() const { return Lines(ReadText(m_output)); }
  boost::json::object Summary() const { return ReadJson(m_summary); }

  // Stops it with SIGTERM and returns what it received.
  std::vector<std::string> Stop() {
    m_process->Terminate();
    EXPECT_EQ(m_process->Wait(), 0);
    return Received();
  }
  // Ends it as a crash would: what it has written stays written.
  void Kill() {
    m_process->Signal(SIGKILL);
    m_process->Wait();
  }

 private:
  std::filesystem::path m_output, m_ready, m_summary;
  std::unique_ptr<ChildProcess> m_process;
  boost::json::object m_ports;
};
