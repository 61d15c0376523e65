#include "host/sink/datagram_receiver.h"

#include <sstream>
#include <string_view>
#include <system_error>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>

#include "host/sink/diagnostic_log.h"

namespace siem_sink {
namespace {

// A burst of datagrams is dropped by the system once the receive buffer is
// full; a larger one rides out a burst while the output is written. The
// system caps it at its own maximum without failing.
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;
// What a stopping receiver still reads of the datagrams already queued.
constexpr std::size_t kMaxDrainDatagrams = 100000;

}  // namespace

DatagramReceiver::DatagramReceiver(boost::asio::io_context& io, const boost::asio::ip::udp::endpoint& endpoint,
                                   EventWriter& writer)
    : m_writer(writer), m_strand(boost::asio::make_strand(io)), m_socket(m_strand) {
  std::ostringstream name;
  name << "udp " << endpoint;
  const auto fail = [&](const boost::system::error_code& error, const char* what) {
    if (error) throw std::system_error(error, std::string("cannot ") + what + " for " + name.str());
  };
  boost::system::error_code error;
  m_socket.open(endpoint.protocol(), error);
  fail(error, "open a socket");
  m_socket.bind(endpoint, error);
  fail(error, "listen");
  boost::system::error_code ignored;
  m_socket.set_option(boost::asio::socket_base::receive_buffer_size(kReceiveBufferBytes), ignored);
  const boost::asio::ip::udp::endpoint bound = m_socket.local_endpoint(error);
  fail(error, "read the port");
  m_port = bound.port();
  name.str({});
  name << "udp " << bound;
  m_name = name.str();
}

void DatagramReceiver::Start() {
  boost::asio::post(m_strand, [this] { Receive(); });
}

void DatagramReceiver::Stop() {
  boost::asio::post(m_strand, [this] {
    m_stopping = true;
    // The pending receive ends with operation_aborted, or has already
    // ended; either way OnReceive drains and closes.
    boost::system::error_code ignored;
    m_socket.cancel(ignored);
  });
}

void DatagramReceiver::Receive() {
  m_socket.async_receive_from(boost::asio::buffer(m_buffer), m_sender,
                              [this](const boost::system::error_code& error, std::size_t size) {
                                OnReceive(error, size);
                              });
}

void DatagramReceiver::OnReceive(const boost::system::error_code& error, std::size_t size) {
  if (!error) Deliver(size);
  if (m_stopping) {
    Drain();
    return;
  }
  // One sender's trouble (an ICMP error reported on the socket, a datagram
  // cut short) is no reason to stop receiving from the others.
  if (error) DiagnosticLog::Line(m_name + ": receive failed: " + error.message());
  Receive();
}

void DatagramReceiver::Deliver(std::size_t size) {
  std::string_view datagram(m_buffer.data(), size);
  if (datagram.ends_with('\n')) datagram.remove_suffix(1);
  // An empty datagram carries no event.
  if (datagram.empty()) return;
  m_batch.assign(datagram);
  m_batch += '\n';
  m_writer.Write(Protocol::kUdp, m_batch, 1);
}

void DatagramReceiver::Drain() {
  boost::system::error_code error;
  m_socket.non_blocking(true, error);
  for (std::size_t count = 0; !error && count < kMaxDrainDatagrams; ++count) {
    const std::size_t size = m_socket.receive_from(boost::asio::buffer(m_buffer), m_sender, 0, error);
    if (!error) Deliver(size);
  }
  boost::system::error_code ignored;
  m_socket.close(ignored);
}

}  // namespace siem_sink
