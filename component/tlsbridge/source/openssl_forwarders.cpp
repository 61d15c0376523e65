// The forwarders of every OpenSSL function the component calls. The component
// and Boost.Asio call these names as if OpenSSL were linked; the module
// defines them itself, hidden, and they find OpenSSL in the TLS library at
// run time (see forwarder.h and TlsBridgeLoader).

// The component forwards functions that OpenSSL 3 marks deprecated too (the
// 1.1 API it is written against, ERR_func_error_string for one); naming them
// here is no use of them.
#define OPENSSL_SUPPRESS_DEPRECATED

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/ec.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "component/tlsbridge/openssl_functions.h"
#include "component/tlsbridge/source/forwarder.h"

TLSBRIDGE_OPENSSL_FUNCTIONS(TLSBRIDGE_FORWARD)
