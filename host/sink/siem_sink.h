#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl/context.hpp>

#include "host/sink/datagram_receiver.h"
#include "host/sink/event_writer.h"
#include "host/sink/http_access.h"
#include "host/sink/sink_options.h"
#include "host/sink/tcp_listener.h"

namespace siem_sink {

// The whole receiver: the output, a listener for each protocol asked for,
// the threads that serve them, and the stop on SIGINT or SIGTERM.
class SiemSink {
 public:
  // Opens the output, loads the certificate and key, and listens on every
  // port, so that a sink that was made is reachable. Throws
  // std::invalid_argument naming the option whose value cannot be used (a
  // bad address, a file that cannot be read), std::system_error when a port
  // cannot be listened on.
  explicit SiemSink(const SinkOptions& options);
  ~SiemSink();
  SiemSink(const SiemSink&) = delete;
  SiemSink& operator=(const SiemSink&) = delete;

  // Writes the ready file, serves until a signal, then lets every connection
  // write what it received, prints the counts and writes the summary file.
  // Returns the process's exit code: 0, or 1 when the output or the summary
  // could not be written. Throws std::system_error when the ready file
  // cannot be written.
  int Run();

 private:
  void ListenTcp(Protocol protocol, const boost::asio::ip::address& address);
  void OnSignal(const boost::system::error_code& error, int signal);
  void OnExpectedCount();
  // Closes the listeners; every connection writes what it has received.
  void StopServing();
  void ServeInThisThread();
  void WriteReadyFile() const;
  bool ReportCounts() const;

  const SinkOptions m_options;
  std::unique_ptr<EventWriter> m_writer;
  HttpAccess m_httpAccess;
  std::optional<boost::asio::ssl::context> m_tls;
  // After the writer, the HTTP checks and the TLS context: connections still
  // held by the I/O context when it goes use them.
  boost::asio::io_context m_io;
  boost::asio::signal_set m_signals;
  std::vector<std::pair<Protocol, std::unique_ptr<TcpListener>>> m_listeners;
  std::unique_ptr<DatagramReceiver> m_datagrams;
};

}  // namespace siem_sink
