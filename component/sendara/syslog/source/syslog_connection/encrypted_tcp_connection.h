#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>

#include "component/oru/i_client_certificate_decryptor.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/syslog/source/syslog_connection/base_connection.h"
#include "component/sendara/syslog/source/syslog_connection/certificate_record.h"

namespace sendara::syslog {

// Messages over TLS (1.1 and later) on a TCP stream. The server's chain must
// verify against the system's trust store and the configured server
// certificates, and its name match the host; errors the settings tolerate
// pass. A connect that, with its handshake, takes longer than the connection
// time-out is closed.
//
// A read stays posted for the life of the connection: servers send nothing
// but alerts and session tickets, and an alert (a refused client
// certificate under TLS 1.3 arrives only after the client's handshake has
// ended) or a hang-up makes the connection unusable before a message is
// written into it.
class EncryptedTcpConnection final : public BaseConnection {
 public:
  // Raises when the configured certificates or key cannot be used.
  static std::shared_ptr<EncryptedTcpConnection> Create(oru::RefPtr<oru::ITracer> tracer, const Pool& pool,
                                                        const SyslogServer& server,
                                                        const SyslogClientSettings& settings,
                                                        oru::RefPtr<oru::IClientCertificateDecryptor> decryptor);

 private:
  using Stream = boost::asio::ssl::stream<boost::asio::ip::tcp::socket>;

  EncryptedTcpConnection(oru::RefPtr<oru::ITracer> tracer, const Pool& pool, const SyslogServer& server,
                         const SyslogClientSettings& settings,
                         oru::RefPtr<oru::IClientCertificateDecryptor> decryptor);

  void DoConnect(std::shared_ptr<MinimumPromise> promise) override;
  std::uint32_t ConnectWaitTime() const override;
  void WriteFront() override;
  void DoClose() override;
  bool PeerAlive() override { return !m_peerGone && m_stream->lowest_layer().is_open(); }

  void Handshake(std::shared_ptr<MinimumPromise> promise);
  void ReadFromPeer();
  void OnSessionTicket();
  bool HandleCertVerification(bool preverified, boost::asio::ssl::verify_context& context);
  std::exception_ptr TlsError(const boost::system::error_code& error, std::string_view what) const;
  static int NewSessionCallback(SSL* ssl, SSL_SESSION* session);
  static int ClientCertificateCallback(SSL* ssl, X509** certificate, EVP_PKEY** key);

  const SyslogClientSettings m_settings;
  boost::asio::ssl::context m_context;
  boost::asio::ip::tcp::resolver m_resolver;
  // Made once the context is complete: a TLS session takes the context's
  // certificate, key and options when it is created.
  std::optional<Stream> m_stream;
  boost::asio::steady_timer m_deadline;
  boost::asio::steady_timer m_ticketWait;
  // Set by the handshake and the verification callback, on the strand.
  std::string m_expectedName;
  std::vector<CertificateRecord> m_chain;
  bool m_errorFlag = false;
  bool m_handlerAccepted = false;
  bool m_peerGone = false;
  // The server asked for a client certificate and none was configured.
  bool m_clientCertificateMissing = false;
  // Between the start of a connect and the end of its handshake.
  bool m_connecting = false;
  // The connect that waits for the server's first record after a TLS 1.3
  // handshake.
  std::shared_ptr<MinimumPromise> m_pendingConnect;
  std::vector<char> m_readBuffer = std::vector<char>(256);
};

}  // namespace sendara::syslog
