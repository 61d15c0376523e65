#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio.hpp>

#include "received_bytes.h"

// A loopback TCP port in front of a server, for tests that must see what a
// client puts on the wire: each connection is passed on to the upstream port
// both ways, and what the client sent is kept, connection by connection.
//
// Without an upstream it is a server that speaks no TLS: it reads the
// client's first TLS record, answers with a line of plain text, ends its
// sending side and reads on until the client ends, so that whatever the
// client still sends is kept too.
class RecordingRelay {
 public:
  explicit RecordingRelay(std::optional<std::uint16_t> upstream)
      : m_upstream(upstream), m_acceptor(m_io, {boost::asio::ip::make_address("127.0.0.1"), 0}) {
    Accept();
    m_thread = std::thread([this] { m_io.run(); });
  }
  ~RecordingRelay() {
    m_io.stop();
    m_thread.join();
  }
  RecordingRelay(const RecordingRelay&) = delete;
  RecordingRelay& operator=(const RecordingRelay&) = delete;

  std::uint16_t Port() const { return m_acceptor.local_endpoint().port(); }
  // What each client sent, in the order the connections were accepted.
  std::vector<std::string> ClientBytes() const { return m_received.Connections(); }

 private:
  using Socket = boost::asio::ip::tcp::socket;

  struct Connection {
    explicit Connection(Socket accepted) : client(std::move(accepted)), server(client.get_executor()) {}
    Socket client;
    Socket server;
    std::size_t number = 0;
    std::array<char, 16 * 1024> fromClient{};
    std::array<char, 16 * 1024> fromServer{};
    std::string firstRecord;  // without an upstream, until it is complete
    bool answered = false;
  };

  void Accept() {
    m_acceptor.async_accept([this](const boost::system::error_code& error, Socket socket) {
      if (error) return;
      auto connection = std::make_shared<Connection>(std::move(socket));
      connection->number = m_connections.size();
      m_connections.push_back(connection);
      m_received.Append(connection->number, "", 0);
      if (!m_upstream) {
        ReadClient(connection);
      } else {
        connection->server.async_connect({boost::asio::ip::make_address("127.0.0.1"), *m_upstream},
                                         [this, connection](const boost::system::error_code& connectError) {
                                           if (connectError) return Close(*connection);
                                           ReadClient(connection);
                                           ReadServer(connection);
                                         });
      }
      Accept();
    });
  }

  void ReadClient(const std::shared_ptr<Connection>& connection) {
    connection->client.async_read_some(
        boost::asio::buffer(connection->fromClient),
        [this, connection](const boost::system::error_code& error, std::size_t size) {
          m_received.Append(connection->number, connection->fromClient.data(), size);
          if (error) return Ended(connection->server, error, *connection);
          if (!m_upstream) {
            AnswerFirstRecord(connection, size);
            return ReadClient(connection);
          }
          boost::asio::async_write(connection->server, boost::asio::buffer(connection->fromClient, size),
                                   [this, connection](const boost::system::error_code& writeError, std::size_t) {
                                     if (writeError) return Close(*connection);
                                     ReadClient(connection);
                                   });
        });
  }

  void ReadServer(const std::shared_ptr<Connection>& connection) {
    connection->server.async_read_some(
        boost::asio::buffer(connection->fromServer),
        [this, connection](const boost::system::error_code& error, std::size_t size) {
          if (error) return Ended(connection->client, error, *connection);
          boost::asio::async_write(connection->client, boost::asio::buffer(connection->fromServer, size),
                                   [this, connection](const boost::system::error_code& writeError, std::size_t) {
                                     if (writeError) return Close(*connection);
                                     ReadServer(connection);
                                   });
        });
  }

  // A side that ended in order is passed on as the end of the other side's
  // input; a reset ends the connection.
  void Ended(Socket& to, const boost::system::error_code& error, Connection& connection) {
    if (error != boost::asio::error::eof) return Close(connection);
    boost::system::error_code ignored;
    to.shutdown(Socket::shutdown_send, ignored);
  }

  void AnswerFirstRecord(const std::shared_ptr<Connection>& connection, std::size_t size) {
    if (connection->answered) return;
    connection->firstRecord.append(connection->fromClient.data(), size);
    const std::string& record = connection->firstRecord;
    // A record: type, version (2 bytes), length (2 bytes), then the length's
    // bytes. Whatever a client sends that is no record is answered as soon
    // as there is enough of it.
    const std::size_t length =
        record.size() < 5 ? 0
                          : (static_cast<std::size_t>(static_cast<unsigned char>(record[3])) << 8) |
                                static_cast<unsigned char>(record[4]);
    if (record.size() < 5 || record.size() < 5 + length) return;
    connection->answered = true;
    auto answer = std::make_shared<std::string>("this is a plain syslog port\n");
    boost::asio::async_write(connection->client, boost::asio::buffer(*answer),
                             [connection, answer](const boost::system::error_code&, std::size_t) {
                               boost::system::error_code ignored;
                               connection->client.shutdown(Socket::shutdown_send, ignored);
                             });
  }

  static void Close(Connection& connection) {
    boost::system::error_code ignored;
    connection.client.close(ignored);
    connection.server.close(ignored);
  }

  const std::optional<std::uint16_t> m_upstream;
  boost::asio::io_context m_io;
  boost::asio::ip::tcp::acceptor m_acceptor;
  std::vector<std::shared_ptr<Connection>> m_connections;
  ReceivedBytes m_received;
  std::thread m_thread;
};
