// Linked into a shared library with --no-undefined and without OpenSSL: the
// link succeeds only if the component's forwarders define every OpenSSL
// function that Boost.Asio's TLS stream and context call (and every name of
// the forwarder lists). It is never run; the unit tests run the same calls
// against a real handshake.

// The lists name functions OpenSSL 3 marks deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED

#include <cstddef>
#include <string>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "component/tlsbridge/openssl_functions.h"

namespace {

namespace asio = boost::asio;
namespace ssl = boost::asio::ssl;

void UseContext(ssl::context& context, const std::string& pem) {
  context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                      ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                      ssl::context::no_tlsv1_1);
  context.clear_options(ssl::context::no_tlsv1_1);
  context.set_verify_mode(ssl::verify_peer | ssl::verify_fail_if_no_peer_cert);
  context.set_verify_depth(4);
  context.set_verify_callback(ssl::host_name_verification("localhost"));
  context.set_default_verify_paths();
  context.add_verify_path("/");
  context.load_verify_file("/");
  context.add_certificate_authority(asio::buffer(pem));
  context.use_certificate(asio::buffer(pem), ssl::context::pem);
  context.use_certificate(asio::buffer(pem), ssl::context::asn1);
  context.use_certificate_file("/", ssl::context::pem);
  context.use_certificate_chain(asio::buffer(pem));
  context.use_certificate_chain_file("/");
  context.use_private_key(asio::buffer(pem), ssl::context::pem);
  context.use_private_key(asio::buffer(pem), ssl::context::asn1);
  context.use_private_key_file("/", ssl::context::pem);
  context.use_rsa_private_key(asio::buffer(pem), ssl::context::pem);
  context.use_rsa_private_key_file("/", ssl::context::pem);
  context.use_tmp_dh(asio::buffer(pem));
  context.use_tmp_dh_file("/");
  context.set_password_callback(
      [](std::size_t, ssl::context::password_purpose) { return std::string(); });
}

void UseStream(ssl::stream<asio::ip::tcp::socket>& stream) {
  boost::system::error_code error;
  char buffer[16] = {};
  stream.set_verify_mode(ssl::verify_peer);
  stream.set_verify_depth(3);
  stream.set_verify_callback(ssl::host_name_verification("localhost"));
  stream.set_verify_callback([](bool preverified, ssl::verify_context&) { return preverified; });
  SSL_set_tlsext_host_name(stream.native_handle(), "localhost");
  stream.handshake(ssl::stream_base::client, error);
  stream.async_handshake(ssl::stream_base::server, [](boost::system::error_code) {});
  stream.write_some(asio::buffer(buffer), error);
  stream.read_some(asio::buffer(buffer), error);
  asio::write(stream, asio::buffer(buffer), error);
  asio::async_write(stream, asio::buffer(buffer), [](boost::system::error_code, std::size_t) {});
  stream.async_read_some(asio::buffer(buffer), [](boost::system::error_code, std::size_t) {});
  stream.shutdown(error);
  stream.async_shutdown([](boost::system::error_code) {});
}

#define TLSBRIDGE_PROBE_ADDRESS(name) reinterpret_cast<const void*>(&::name),
const void* const kEveryForwarder[] = {TLSBRIDGE_OPENSSL_FUNCTIONS(TLSBRIDGE_PROBE_ADDRESS)};
#undef TLSBRIDGE_PROBE_ADDRESS

}  // namespace

extern "C" __attribute__((visibility("default"))) std::size_t tls_bridge_asio_probe(
    const char* pem) {
  asio::io_context io;
  ssl::context context(ssl::context::tls_client);
  ssl::context server(ssl::context::tls_server);
  ssl::context any(ssl::context::tls);
  UseContext(context, pem);
  ssl::stream<asio::ip::tcp::socket> stream(io, context);
  UseStream(stream);
  io.run();
  std::string texts = boost::system::error_code(ssl::error::stream_truncated).message();
  texts += boost::system::error_code(0x0A000086, asio::error::get_ssl_category()).message();
  return texts.size() + sizeof kEveryForwarder;
}
