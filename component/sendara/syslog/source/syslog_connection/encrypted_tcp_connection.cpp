#include "component/sendara/syslog/source/syslog_connection/encrypted_tcp_connection.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>

#include <boost/asio/connect.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include "component/oru/exception_to_result.h"
#include "component/sendara/base/detail/certificates/certificate_error_class.h"
#include "component/sendara/base/detail/certificates/x509_cer_to_der_blob.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/contract_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/edr_telemetry/source/client/request_sender/connection_error_reason.h"
#include "component/sendara/syslog/source/syslog_connection/connection_error.h"
#include "component/sendara/syslog/source/syslog_connection/i_certificate_verification_handler.h"

namespace sendara::syslog {
namespace {

using base::TraceLevel;
using boost::asio::ip::tcp;
using edr_telemetry::ConnectionErrorReason;

constexpr std::uint32_t kSkipHostNameCheck = 1;      // first settings word, bit 0
constexpr std::uint32_t kIgnoreCertificateErrors = 1;  // fourth settings word
constexpr long kUnableToVerifyLeafSignature = 21;
// Under TLS 1.3 a server tells of a refused client certificate only after
// the client's handshake has ended; its session tickets tell of acceptance.
// A server that sends no ticket is taken to accept after this long.
std::chrono::milliseconds FirstRecordGrace(std::uint32_t timeoutConnection) {
  return std::max(std::chrono::milliseconds(300), std::chrono::milliseconds(timeoutConnection / 2));
}

// Why a TLS failure happened, as the sending side reports it.
// `clientCertificateMissing`: the server asked for a client certificate that
// we do not have. A TLS 1.2 server that requires one tells of its absence
// with a bare handshake_failure alert (TLS 1.3 has certificate_required);
// after such a request that alert is taken for the missing certificate.
std::uint32_t ReasonOf(const boost::system::error_code& error, bool clientCertificateMissing) {
  if (error.category() != boost::asio::error::get_ssl_category()) return 0;
  const auto code = static_cast<unsigned long>(error.value());
  if (ERR_GET_LIB(code) != ERR_LIB_SSL) return 0;
  switch (ERR_GET_REASON(code)) {
    case SSL_R_CERTIFICATE_VERIFY_FAILED:
      return static_cast<std::uint32_t>(ConnectionErrorReason::eInvalidServerCertificate);
    case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
    case SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_REVOKED:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED:
    case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
    case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
    case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
      return static_cast<std::uint32_t>(ConnectionErrorReason::eInvalidClientCertificate);
    case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
      return clientCertificateMissing ? static_cast<std::uint32_t>(ConnectionErrorReason::eInvalidClientCertificate)
                                      : 0;
    default:
      return 0;
  }
}

std::string NameOf(X509_NAME* name) {
  char text[512] = {};
  if (name) X509_NAME_oneline(name, text, sizeof text);
  return text;
}

// Overwrites a secret before its memory is given back.
void Wipe(std::vector<std::uint8_t>& secret) {
  volatile std::uint8_t* bytes = secret.data();
  for (std::size_t i = 0; i < secret.size(); ++i) bytes[i] = 0;
  secret.clear();
}

int ConnectionIndex() {
  static const int index = CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_SSL_CTX, 0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

}  // namespace

std::shared_ptr<EncryptedTcpConnection> EncryptedTcpConnection::Create(
    oru::RefPtr<oru::ITracer> tracer, const Pool& pool, const SyslogServer& server,
    const SyslogClientSettings& settings, oru::RefPtr<oru::IClientCertificateDecryptor> decryptor) {
  return std::shared_ptr<EncryptedTcpConnection>(
      new EncryptedTcpConnection(std::move(tracer), pool, server, settings, std::move(decryptor)));
}

EncryptedTcpConnection::EncryptedTcpConnection(oru::RefPtr<oru::ITracer> tracer, const Pool& pool,
                                               const SyslogServer& server, const SyslogClientSettings& settings,
                                               oru::RefPtr<oru::IClientCertificateDecryptor> decryptor)
    : BaseConnection(std::move(tracer), pool, server, settings),
      m_settings(settings),
      m_context(boost::asio::ssl::context::tls_client),
      m_resolver(m_strand),
      m_deadline(m_strand),
      m_ticketWait(m_strand) {
  SSL_CTX* context = m_context.native_handle();
  SSL_CTX_set_min_proto_version(context, TLS1_VERSION);
  // SSL 3.0 and TLS 1.0 are off: TLS 1.1 and later.
  m_context.set_options(SSL_OP_ALL | SSL_OP_NO_SSLv3 | SSL_OP_NO_TLSv1);
  try {
    m_context.set_default_verify_paths();
    if (m_settings.serverCerts && !m_settings.serverCerts->empty()) {
      m_context.add_certificate_authority(boost::asio::buffer(*m_settings.serverCerts));
    }
  } catch (const boost::system::system_error& error) {
    base::ThrowNested(MakeConnectionException(oru::rc::InvalidArgument, 0, m_serverAddress,
                                              std::string("server certificates cannot be used: ") + error.what(),
                                              __FILE__, __LINE__));
  }

  const auto& client = m_settings.clientCert;
  if (client && !client->certPublic.empty() && !client->keyPrivate.empty()) {
    std::vector<std::uint8_t> key;
    try {
      SENDARA_CHECK(decryptor != nullptr, base::contract_exception, oru::rc::InvalidArgument, "decryptor");
      SENDARA_CHECK_RESULT(decryptor->Decrypt(client->keyPrivate, key), base::sendara_exception,
                           "can't decrypt client key");
      m_context.use_certificate_chain(boost::asio::buffer(client->certPublic));
      m_context.use_private_key(boost::asio::buffer(key), boost::asio::ssl::context::pem);
      Wipe(key);
    } catch (...) {
      Wipe(key);
      base::ThrowNested(MakeConnectionException(
          oru::rc::InvalidArgument, static_cast<std::uint32_t>(ConnectionErrorReason::eInvalidClientCertificate),
          m_serverAddress, "client certificate cannot be used", __FILE__, __LINE__));
    }
  }

  SSL_CTX_set_ex_data(context, ConnectionIndex(), this);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT);
  SSL_CTX_sess_set_new_cb(context, &EncryptedTcpConnection::NewSessionCallback);
  SSL_CTX_set_client_cert_cb(context, &EncryptedTcpConnection::ClientCertificateCallback);
  m_stream.emplace(m_strand, m_context);
}

std::uint32_t EncryptedTcpConnection::ConnectWaitTime() const {
  // The deadline, not the wait, ends a connect that takes too long; the
  // wait also covers the server's first record after a TLS 1.3 handshake.
  const std::uint64_t wait = std::uint64_t{m_timeoutConnection} +
                             static_cast<std::uint64_t>(FirstRecordGrace(m_timeoutConnection).count()) + 200;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(wait, 0xFFFFFFFEu));
}

void EncryptedTcpConnection::DoConnect(std::shared_ptr<MinimumPromise> promise) {
  auto self = std::static_pointer_cast<EncryptedTcpConnection>(shared_from_this());
  m_chain.clear();
  m_errorFlag = false;
  m_handlerAccepted = false;
  m_clientCertificateMissing = false;

  m_connecting = true;
  m_deadline.expires_after(std::chrono::milliseconds(m_timeoutConnection));
  m_deadline.async_wait([self](const boost::system::error_code& error) {
    SENDARA_TRACE(self->m_tracer, TraceLevel::kDetail, "checking deadline");
    // Cancelled, or fired while the end of the handshake was already queued:
    // the connect ended in time.
    if (error || !self->m_connecting) return;
    SENDARA_TRACE(self->m_tracer, TraceLevel::kInfo, "deadline expired");
    self->CloseOnStrand();
  });

  ResolveAndConnect(
      m_resolver, m_stream->lowest_layer(), promise, "Resolve error: ",
      [self, promise](const tcp::endpoint& endpoint) {
        SENDARA_TRACE(self->m_tracer, TraceLevel::kInfo, "Connected to " << endpoint);
        self->m_expectedName = endpoint.address().to_string();
        self->Handshake(promise);
      },
      [self] {
        self->m_connecting = false;
        self->m_deadline.cancel();
      });
}

void EncryptedTcpConnection::Handshake(std::shared_ptr<MinimumPromise> promise) {
  auto self = std::static_pointer_cast<EncryptedTcpConnection>(shared_from_this());
  m_stream->set_verify_mode(boost::asio::ssl::verify_peer | boost::asio::ssl::verify_fail_if_no_peer_cert);
  m_stream->set_verify_callback([weak = std::weak_ptr<EncryptedTcpConnection>(self)](
                                   bool preverified, boost::asio::ssl::verify_context& context) {
    const auto connection = weak.lock();
    return connection && connection->HandleCertVerification(preverified, context);
  });
  m_stream->async_handshake(Stream::client, [self, promise](const boost::system::error_code& error) {
    self->m_connecting = false;
    self->m_deadline.cancel();
    if (error) {
      SENDARA_TRACE(self->m_tracer, TraceLevel::kError,
                    "Handshake error: " << error.value() << ", " << error.message());
      promise->SetException(self->TlsError(error, "Handshake error: "));
      return;
    }
    SSL* ssl = self->m_stream->native_handle();
    SENDARA_TRACE(self->m_tracer, TraceLevel::kDetail, "Handshake ok: " << SSL_get_version(ssl));
    // From now on the peer's records are read as they come.
    self->ReadFromPeer();
    if (SSL_version(ssl) < TLS1_3_VERSION) {
      promise->SetValue();
      return;
    }
    // TLS 1.3: wait for the server's first record, a ticket or an alert.
    self->m_pendingConnect = promise;
    self->m_ticketWait.expires_after(FirstRecordGrace(self->m_timeoutConnection));
    self->m_ticketWait.async_wait([self](const boost::system::error_code& waitError) {
      if (waitError) return;
      self->OnSessionTicket();
    });
  });
}

void EncryptedTcpConnection::OnSessionTicket() {
  m_ticketWait.cancel();
  if (auto promise = std::exchange(m_pendingConnect, nullptr)) promise->SetValue();
}

int EncryptedTcpConnection::NewSessionCallback(SSL* ssl, SSL_SESSION*) {
  // Runs inside a read on the connection's strand.
  auto* connection =
      static_cast<EncryptedTcpConnection*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), ConnectionIndex()));
  if (connection) connection->OnSessionTicket();
  return 0;  // the session is not kept
}

int EncryptedTcpConnection::ClientCertificateCallback(SSL* ssl, X509**, EVP_PKEY**) {
  // Called in the handshake, on the connection's strand, only when the
  // server asks for a certificate and the context has none.
  auto* connection =
      static_cast<EncryptedTcpConnection*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), ConnectionIndex()));
  if (connection) connection->m_clientCertificateMissing = true;
  return 0;  // the handshake goes on without one; the server decides
}

void EncryptedTcpConnection::ReadFromPeer() {
  auto self = std::static_pointer_cast<EncryptedTcpConnection>(shared_from_this());
  m_stream->async_read_some(boost::asio::buffer(m_readBuffer),
                           [self](const boost::system::error_code& error, std::size_t) {
                             if (!error) {
                               self->ReadFromPeer();  // a server has nothing to say: ignored
                               return;
                             }
                             if (error == boost::asio::error::operation_aborted) return;
                             SENDARA_TRACE(self->m_tracer, TraceLevel::kWarning,
                                           "connection ended by the server: " << error.message());
                             self->m_peerGone = true;
                             if (auto promise = std::exchange(self->m_pendingConnect, nullptr)) {
                               self->m_ticketWait.cancel();
                               promise->SetException(self->TlsError(error, "Handshake error: "));
                             }
                           });
}

void EncryptedTcpConnection::WriteFront() {
  auto self = std::static_pointer_cast<EncryptedTcpConnection>(shared_from_this());
  const auto& payload = *m_messages.front().first;
  boost::asio::async_write(*m_stream, payload.Buffers(),
                           [self](const boost::system::error_code& error, std::size_t) {
                             self->HandleWritten(error, false);
                           });
}

void EncryptedTcpConnection::DoClose() {
  m_connecting = false;
  m_deadline.cancel();
  m_ticketWait.cancel();
  m_resolver.cancel();
  // A connect waiting for the server's first record is over.
  if (auto promise = std::exchange(m_pendingConnect, nullptr)) {
    promise->SetException(TlsError(boost::asio::error::operation_aborted, "Handshake error: "));
  }
  if (!m_stream->lowest_layer().is_open()) {
    CloseFinished();
    return;
  }
  SENDARA_TRACE(m_tracer, TraceLevel::kError, "Closing connection");
  auto self = std::static_pointer_cast<EncryptedTcpConnection>(shared_from_this());
  // Neither the shutdown nor the wait for the server's end of the stream
  // goes on for ever.
  std::shared_ptr<boost::asio::steady_timer> timer = CloseAfterRequestTimeout(m_stream->next_layer());
  // One-way: our close_notify is written without waiting for the server's
  // answer, which a syslog server may never send.
  SSL_set_shutdown(m_stream->native_handle(), SSL_get_shutdown(m_stream->native_handle()) | SSL_RECEIVED_SHUTDOWN);
  m_stream->async_shutdown([self, timer](const boost::system::error_code& error) {
    SENDARA_TRACE(self->m_tracer, TraceLevel::kError,
                  (error ? "Shutdown error: " : "Shutdown ok: ") << error.value() << ", " << error.message());
    // Not closed yet: the server may still be writing (a TLS 1.3 server can
    // send its second session ticket well after the first), and its bytes
    // reaching a closed socket would lose our last messages to a reset.
    self->EndStreamInOrder(self->m_stream->next_layer(), timer);
  });
}

std::exception_ptr EncryptedTcpConnection::TlsError(const boost::system::error_code& error,
                                                    std::string_view what) const {
  return std::make_exception_ptr(MakeConnectionException(ResultFromSocketError(error),
                                                         ReasonOf(error, m_clientCertificateMissing),
                                                         m_serverAddress, std::string(what) + error.message(),
                                                         __FILE__, __LINE__));
}

bool EncryptedTcpConnection::HandleCertVerification(bool preverified, boost::asio::ssl::verify_context& context) {
  try {
    X509_STORE_CTX* store = context.native_handle();
    X509* certificate = X509_STORE_CTX_get_current_cert(store);
    SENDARA_CHECK(certificate != nullptr, base::contract_exception, oru::rc::InvalidState,
                  ": server certificate is not available");
    std::vector<std::uint8_t> der = base::X509CerToDerBlob(certificate);
    if (m_chain.empty() || m_chain.back().der != der) m_chain.push_back({std::move(der), 0});

    const int depth = X509_STORE_CTX_get_error_depth(store);
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(store);
    const int chainLength = chain ? sk_X509_num(chain) : 0;
    const bool isLast = depth == chainLength - 1;
    const std::string subject = NameOf(X509_get_subject_name(certificate));

    if (m_handlerAccepted && m_chain.size() == 1 && m_settings.verificationHandler) {
      SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                    " Ignoring additional callbacks for " << subject << " issued by "
                                                          << NameOf(X509_get_issuer_name(certificate)));
      SENDARA_TRACE(m_tracer, TraceLevel::kInfo, " custom handler returned overallStatusOk");
      return true;
    }

    if (m_settings.reserved1[0] & kSkipHostNameCheck) {
      SENDARA_TRACE(m_tracer, TraceLevel::kWarning, "Certificate subject name check was skipped by settings!");
    } else if (!m_host.empty() && depth == 0) {
      boost::asio::ip::address address;
      boost::system::error_code notAnAddress;
      address = boost::asio::ip::make_address(m_host, notAnAddress);
      const int matches = notAnAddress ? X509_check_host(certificate, m_host.c_str(), m_host.size(), 0, nullptr)
                                       : X509_check_ip_asc(certificate, m_host.c_str(), 0);
      if (matches != 1) {
        SENDARA_TRACE(m_tracer, TraceLevel::kError, " Common name check failed for " << m_host);
        m_chain.back().errorMask = base::CertificateErrorClass::kHostName;
        return false;
      }
    }

    const long error = X509_STORE_CTX_get_error(store);
    if (!preverified) {
      SENDARA_TRACE(m_tracer, TraceLevel::kError,
                    " preverify_ok is not ok : " << error << " : '" << X509_verify_cert_error_string(error) << "'");
      if (m_settings.reserved2[0] == kIgnoreCertificateErrors) {
        SENDARA_TRACE(m_tracer, TraceLevel::kError, " Ignoring error " << error << ": no certs are provided");
      } else {
        m_errorFlag = true;
        m_chain.back().errorMask = base::CertificateErrorClassOf(static_cast<int>(error));
      }
    }
    SENDARA_TRACE(m_tracer, TraceLevel::kInfo,
                  ": verify callback for \"" << subject << "\", pre/depth/err " << preverified << depth << error
                                             << " chain size: " << chainLength << ": isLast " << isLast);

    if (depth > 0) return true;
    if (!preverified && error != kUnableToVerifyLeafSignature) return true;

    bool overall = !m_errorFlag;
    if (m_settings.verificationHandler) {
      std::vector<CertificateRecord> leafFirst(m_chain.rbegin(), m_chain.rend());
      const oru::Result result = m_settings.verificationHandler->Validate(m_expectedName, leafFirst);
      SENDARA_TRACE(m_tracer, TraceLevel::kInfo, ": validation result: " << result);
      overall = oru::Succeeded(result);
      m_handlerAccepted = error == kUnableToVerifyLeafSignature && overall && m_chain.size() == 1;
      if (m_handlerAccepted) {
        SENDARA_TRACE(m_tracer, TraceLevel::kInfo, " Custom handler ignored could not verify leaf signature");
      }
    } else {
      SENDARA_TRACE(m_tracer, TraceLevel::kInfo, ": (no handler) overallStatus: " << overall);
    }
    return overall;
  } catch (...) {
    oru::ExceptionToResult(m_tracer.Get(), "[" + std::string(SENDARA_FUNCTION_NAME) + "]");
    return false;
  }
}

}  // namespace sendara::syslog
