#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio.hpp>

#include "child_process.h"
#include "host_program_support.h"

// The distribution's rsyslogd, run as a process of its own for a test, on
// loopback ports, with a folder of the test's for its configuration, work
// files and output. Every input writes what it gets to one file, a line each:
// the input's name, a blank, the raw message (framing removed, escaping off:
// the bytes that came).
class PrivateRsyslogd {
 public:
  static constexpr const char* kProgram = "/usr/sbin/rsyslogd";

  explicit PrivateRsyslogd(std::filesystem::path dir) : m_dir(std::move(dir)) {}

  // Starts it with the test's inputs: input() statements for the ruleset
  // "events" in which @DIR@ stands for the folder. Each TCP input writes its
  // port to @DIR@/NAME.port (listenPortFileName, port 0), and `portFiles`
  // names them. An input named "imudp" on UdpPort() is always there. Returns
  // once every port is known and the output file is open; empty then, else
  // why it did not start.
  std::string Start(const std::string& inputs, const std::vector<std::string>& portFiles) {
    if (!std::filesystem::exists(kProgram)) {
      return std::string(kProgram) + " is missing: scripts/bootstrap.sh installs rsyslog and rsyslog-openssl";
    }
    std::filesystem::create_directory(m_dir / "work");
    // This imudp cannot write down a port it chose: it gets the one a socket
    // of ours just had.
    boost::asio::io_context io;
    m_udpPort =
        boost::asio::ip::udp::socket(io, {boost::asio::ip::make_address("127.0.0.1"), 0}).local_endpoint().port();
    // The largest example event is close to the default limit of 8k. %msg%
    // is whatever a parser leaves after taking a header apart; the events
    // come without one. The UDP receive buffer holds a burst of the
    // examples, as our sink's does, or a busy machine loses datagrams.
    std::string config = R"(
global(workDirectory="@DIR@/work" maxMessageSize="64k" parser.escapeControlCharactersOnReceive="off")
module(load="imudp")
module(load="imptcp")
module(load="imtcp")
template(name="event" type="string" string="%inputname% %rawmsg%\n")
ruleset(name="events") {
  action(type="omfile" file="@DIR@/received.txt" template="event" asyncWriting="off" flushOnTXEnd="on")
}
input(type="imudp" address="127.0.0.1" port="@UDP_PORT@" rcvbufSize="4m" ruleset="events")
)" + inputs;
    const std::pair<std::string, std::string> values[]{{"@DIR@", m_dir.string()},
                                                       {"@UDP_PORT@", std::to_string(m_udpPort)}};
    for (const auto& [name, value] : values) {
      for (std::size_t at = 0; (at = config.find(name, at)) != std::string::npos; at += value.size()) {
        config.replace(at, name.size(), value);
      }
    }
    WriteText(m_dir / "rsyslog.conf", config);
    ChildProcess::Options options;
    options.stdoutFile = m_dir / "rsyslogd.out";
    options.stderrFile = m_dir / "rsyslogd.err";
    const std::vector<std::string> arguments{"-n", "-f", (m_dir / "rsyslog.conf").string(), "-i",
                                             (m_dir / "rsyslogd.pid").string()};
    m_process = std::make_unique<ChildProcess>(kProgram, arguments, options);
    const auto allPorts = [&] {
      for (const std::string& file : portFiles) {
        if (Port(file) <= 0) return false;
      }
      return true;
    };
    WaitUntil([&] { return !m_process->Running() || allPorts(); });
    if (!m_process->Running() || !allPorts()) return "rsyslogd did not start: " + Errors();
    // The output file is opened before any TLS session ends: this rsyslogd's
    // TLS driver closes a finished session's socket twice, and a file opened
    // in between would be closed by the second close, its lines written into
    // the next socket that gets the number.
    boost::asio::ip::udp::socket sender(io, boost::asio::ip::udp::v4());
    const boost::asio::ip::udp::endpoint input(boost::asio::ip::make_address("127.0.0.1"), m_udpPort);
    const bool writes = WaitUntil([&] {
      sender.send_to(boost::asio::buffer(std::string(kWarmUp)), input);
      return ReadText(m_dir / "received.txt").starts_with(std::string("imudp ") + kWarmUp);
    });
    return writes ? "" : "rsyslogd does not write what it receives: " + Errors();
  }

  // The port an input wrote to `portFile`; 0 or less while there is none.
  int Port(const std::string& portFile) const { return std::atoi(ReadText(m_dir / portFile).c_str()); }
  std::uint16_t UdpPort() const { return m_udpPort; }

  // What the input named `input` received, a message a line, in order.
  std::vector<std::string> Received(const std::string& input) const {
    const std::string prefix = input + " ";
    std::vector<std::string> messages;
    for (const std::string& line : Lines(ReadText(m_dir / "received.txt"))) {
      if (line.starts_with(prefix) && line != std::string("imudp ") + kWarmUp) {
        messages.push_back(line.substr(prefix.size()));
      }
    }
    return messages;
  }

  // What it wrote to its standard error.
  std::string Errors() const { return ReadText(m_dir / "rsyslogd.err"); }

  // Stops it with SIGTERM and returns its exit code.
  int Stop() {
    if (!m_process) return -1;
    m_process->Terminate();
    return m_process->Wait();
  }

 private:
  static constexpr const char* kWarmUp = "warm-up";

  const std::filesystem::path m_dir;
  std::uint16_t m_udpPort = 0;
  std::unique_ptr<ChildProcess> m_process;
};
