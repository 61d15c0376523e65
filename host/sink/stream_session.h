#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/stream.hpp>

#include "host/sink/connection.h"
#include "host/sink/event_writer.h"
#include "host/sink/line_splitter.h"
#include "host/sink/protocol.h"

namespace siem_sink {

// One syslog connection over TCP or TLS: events separated by line feeds,
// written batch by batch as reads bring them. When the client closes, an
// unfinished last line is an event too. Every handler runs on the strand of
// the stream's socket, so the session needs no lock.
//
// Instantiated for boost::asio::ip::tcp::socket and
// boost::asio::ssl::stream<boost::asio::ip::tcp::socket> (stream_session.cpp).
template <class Stream>
class StreamSession final : public Connection, public std::enable_shared_from_this<StreamSession<Stream>> {
 public:
  StreamSession(Stream stream, Protocol protocol, std::string peer, EventWriter& writer);

  void Start() override;
  void Stop() override;

 private:
  static constexpr bool kTls = !std::is_same_v<Stream, boost::asio::ip::tcp::socket>;
  enum class State { kNew, kHandshaking, kReading, kClosed };

  void Begin();
  void OnHandshake(const boost::system::error_code& error);
  void Read();
  void OnRead(const boost::system::error_code& error, std::size_t size);
  void OnStop();
  void Drain();
  // Delivers the events completed by `bytes`; false when a line grew too
  // long and the connection has been closed for it.
  bool Deliver(std::string_view bytes);
  void End(const boost::system::error_code& error);
  void Close();

  Stream m_stream;
  const Protocol m_protocol;
  const std::string m_peer;
  EventWriter& m_writer;
  const std::uint64_t m_connection;
  LineSplitter m_splitter;
  State m_state = State::kNew;
  bool m_stopping = false;
  std::string m_batch;
  std::array<char, 64 * 1024> m_buffer;
};

}  // namespace siem_sink
