#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/strand.hpp>

#include "host/sink/event_writer.h"

namespace siem_sink {

// Syslog over UDP: each datagram is one event (a line feed at its end is the
// sender's framing, not part of it). One socket, one strand.
class DatagramReceiver {
 public:
  // Binds at once. Throws std::system_error saying what could not be done.
  DatagramReceiver(boost::asio::io_context& io, const boost::asio::ip::udp::endpoint& endpoint,
                   EventWriter& writer);
  DatagramReceiver(const DatagramReceiver&) = delete;
  DatagramReceiver& operator=(const DatagramReceiver&) = delete;

  std::uint16_t Port() const { return m_port; }

  void Start();
  // From any thread; returns at once. Datagrams already queued at the
  // socket are still written.
  void Stop();

 private:
  void Receive();
  void OnReceive(const boost::system::error_code& error, std::size_t size);
  void Deliver(std::size_t size);
  void Drain();

  EventWriter& m_writer;
  boost::asio::strand<boost::asio::io_context::executor_type> m_strand;
  boost::asio::ip::udp::socket m_socket;
  boost::asio::ip::udp::endpoint m_sender;
  std::uint16_t m_port = 0;
  std::string m_name;  // "udp 127.0.0.1:40000", for diagnostics
  bool m_stopping = false;
  std::string m_batch;
  // The largest UDP payload there is.
  std::array<char, 65536> m_buffer;
};

}  // namespace siem_sink
