#pragma once

// The OpenSSL functions the component calls, each by its exported name. Every
// name here gets a forwarder (see component/tlsbridge/source/forwarder.h) that
// resolves it in the TLS library on first use. A name must be a real function
// of the OpenSSL headers, not a macro: for a macro such as
// SSL_CTX_set_min_proto_version or SSL_get_peer_certificate, list the
// function it stands for (SSL_CTX_ctrl, SSL_get1_peer_certificate).
//
// Each list takes a macro X and applies it to every name. A name appears in
// one list only. An OpenSSL function that the component starts calling and
// that no list names makes the module fail to link (it is linked with
// --no-undefined and never against OpenSSL), so a missing name cannot slip
// through to run time.

// The functions the TLS connection, the certificate checks and the client
// certificates call.
#define TLSBRIDGE_COMPONENT_FUNCTIONS(X) \
  X(BIO_ctrl) \
  X(BIO_ctrl_pending) \
  X(BIO_free) \
  X(BIO_new) \
  X(BIO_new_bio_pair) \
  X(BIO_new_mem_buf) \
  X(BIO_read) \
  X(BIO_s_mem) \
  X(BIO_write) \
  X(ERR_clear_error) \
  X(ERR_func_error_string) \
  X(ERR_get_error) \
  X(ERR_lib_error_string) \
  X(ERR_peek_error) \
  X(ERR_peek_last_error) \
  X(ERR_reason_error_string) \
  X(EVP_PKEY_free) \
  X(GENERAL_NAMES_free) \
  X(OPENSSL_sk_num) \
  X(OPENSSL_sk_pop_free) \
  X(OPENSSL_sk_value) \
  X(PEM_read_bio_PrivateKey) \
  X(PEM_read_bio_X509) \
  X(PEM_read_bio_X509_AUX) \
  X(PEM_write_bio_PrivateKey) \
  X(PEM_write_bio_X509) \
  X(PKCS12_free) \
  X(PKCS12_parse) \
  X(PKCS12_verify_mac) \
  X(SSL_CTX_ctrl) \
  X(SSL_CTX_free) \
  X(SSL_CTX_get_cert_store) \
  X(SSL_CTX_get_default_passwd_cb) \
  X(SSL_CTX_get_default_passwd_cb_userdata) \
  X(SSL_CTX_get_ex_data) \
  X(SSL_CTX_new) \
  X(SSL_CTX_set_client_cert_cb) \
  X(SSL_CTX_set_default_passwd_cb_userdata) \
  X(SSL_CTX_set_default_verify_paths) \
  X(SSL_CTX_set_ex_data) \
  X(SSL_CTX_set_options) \
  X(SSL_CTX_use_PrivateKey) \
  X(SSL_CTX_use_certificate) \
  X(SSL_accept) \
  X(SSL_connect) \
  X(SSL_ctrl) \
  X(SSL_free) \
  X(SSL_get_error) \
  X(SSL_get_ex_data) \
  X(SSL_get_ex_data_X509_STORE_CTX_idx) \
  X(SSL_get_shutdown) \
  X(SSL_get_verify_callback) \
  X(SSL_get_verify_mode) \
  X(SSL_new) \
  X(SSL_set_bio) \
  X(SSL_set_ex_data) \
  X(SSL_set_shutdown) \
  X(SSL_set_verify) \
  X(SSL_shutdown) \
  X(SSL_write) \
  X(TLS_client_method) \
  X(X509_NAME_ENTRY_get_data) \
  X(X509_NAME_get_entry) \
  X(X509_NAME_get_index_by_NID) \
  X(X509_NAME_oneline) \
  X(X509_STORE_CTX_get0_chain) \
  X(X509_STORE_CTX_get_current_cert) \
  X(X509_STORE_CTX_get_error) \
  X(X509_STORE_CTX_get_error_depth) \
  X(X509_STORE_CTX_get_ex_data) \
  X(X509_STORE_add_cert) \
  X(X509_check_private_key) \
  X(X509_cmp) \
  X(X509_free) \
  X(X509_get_ext_d2i) \
  X(X509_get_issuer_name) \
  X(X509_get_subject_name) \
  X(X509_verify_cert_error_string) \
  X(d2i_PKCS12) \
  X(d2i_X509) \
  X(i2d_X509)

// The further functions Boost.Asio's ssl::context, ssl::stream and
// host-name verification call: the OpenSSL symbols that a translation unit
// using all of them leaves undefined (nm -u), less the ones above.
#define TLSBRIDGE_ASIO_FUNCTIONS(X) \
  X(BIO_new_file) \
  X(CRYPTO_free) \
  X(EVP_PKEY_is_a) \
  X(PEM_read_bio_Parameters) \
  X(SSL_CTX_clear_options) \
  X(SSL_CTX_get_verify_callback) \
  X(SSL_CTX_get_verify_mode) \
  X(SSL_CTX_load_verify_locations) \
  X(SSL_CTX_set0_tmp_dh_pkey) \
  X(SSL_CTX_set_default_passwd_cb) \
  X(SSL_CTX_set_verify) \
  X(SSL_CTX_set_verify_depth) \
  X(SSL_CTX_use_PrivateKey_file) \
  X(SSL_CTX_use_certificate_ASN1) \
  X(SSL_CTX_use_certificate_chain_file) \
  X(SSL_CTX_use_certificate_file) \
  X(SSL_get_SSL_CTX) \
  X(SSL_read) \
  X(SSL_set_verify_depth) \
  X(TLS_method) \
  X(TLS_server_method) \
  X(X509_check_host) \
  X(X509_check_ip_asc) \
  X(d2i_PrivateKey_bio)

// Further TLS session and context functions: library set-up, peer
// certificate and host-name checks, protocol and cipher settings, and
// what the test servers use to serve a socket and ask for renegotiation.
#define TLSBRIDGE_TLS_FUNCTIONS(X) \
  X(OPENSSL_init_crypto) \
  X(OPENSSL_init_ssl) \
  X(OpenSSL_version) \
  X(OpenSSL_version_num) \
  X(SSL_CIPHER_get_name) \
  X(SSL_CTX_add_client_CA) \
  X(SSL_CTX_sess_set_new_cb) \
  X(SSL_CTX_check_private_key) \
  X(SSL_CTX_get0_param) \
  X(SSL_CTX_get_options) \
  X(SSL_CTX_get_security_level) \
  X(SSL_CTX_load_verify_dir) \
  X(SSL_CTX_load_verify_file) \
  X(SSL_CTX_set_cert_store) \
  X(SSL_CTX_set_cert_verify_callback) \
  X(SSL_CTX_set_cipher_list) \
  X(SSL_CTX_set_ciphersuites) \
  X(SSL_CTX_set_client_CA_list) \
  X(SSL_CTX_set_security_level) \
  X(SSL_add1_host) \
  X(SSL_alert_desc_string_long) \
  X(SSL_clear_options) \
  X(SSL_do_handshake) \
  X(SSL_get0_param) \
  X(SSL_get0_peer_certificate) \
  X(SSL_get0_verified_chain) \
  X(SSL_get1_peer_certificate) \
  X(SSL_get_current_cipher) \
  X(SSL_get_options) \
  X(SSL_get_peer_cert_chain) \
  X(SSL_get_rbio) \
  X(SSL_get_servername) \
  X(SSL_get_verify_result) \
  X(SSL_get_version) \
  X(SSL_get_wbio) \
  X(SSL_is_init_finished) \
  X(SSL_load_client_CA_file) \
  X(SSL_peek) \
  X(SSL_pending) \
  X(SSL_renegotiate) \
  X(SSL_renegotiate_pending) \
  X(SSL_set1_host) \
  X(SSL_set_accept_state) \
  X(SSL_set_cipher_list) \
  X(SSL_set_connect_state) \
  X(SSL_set_fd) \
  X(SSL_set_hostflags) \
  X(SSL_set_options) \
  X(SSL_state_string_long) \
  X(SSL_version)

// Further error queue functions, for error texts and for leaving the queue
// as it was found.
#define TLSBRIDGE_ERROR_FUNCTIONS(X) \
  X(ERR_error_string) \
  X(ERR_error_string_n) \
  X(ERR_get_error_all) \
  X(ERR_peek_error_all) \
  X(ERR_peek_last_error_all) \
  X(ERR_pop_to_mark) \
  X(ERR_print_errors_cb) \
  X(ERR_set_mark)

// Further X.509, PEM and PKCS#12 functions: reading, checking and building
// certificates, names, extensions, stores and verification parameters.
#define TLSBRIDGE_CERTIFICATE_FUNCTIONS(X) \
  X(ASN1_INTEGER_get) \
  X(ASN1_INTEGER_set) \
  X(ASN1_INTEGER_to_BN) \
  X(ASN1_STRING_get0_data) \
  X(ASN1_STRING_length) \
  X(ASN1_STRING_to_UTF8) \
  X(ASN1_STRING_type) \
  X(ASN1_TIME_diff) \
  X(ASN1_TIME_free) \
  X(ASN1_TIME_new) \
  X(ASN1_TIME_print) \
  X(ASN1_TIME_set) \
  X(ASN1_TIME_to_tm) \
  X(BN_bn2hex) \
  X(BN_free) \
  X(GENERAL_NAMES_new) \
  X(GENERAL_NAME_free) \
  X(GENERAL_NAME_get0_value) \
  X(OBJ_nid2ln) \
  X(OBJ_nid2sn) \
  X(OBJ_obj2nid) \
  X(OBJ_obj2txt) \
  X(OBJ_txt2nid) \
  X(PEM_X509_INFO_read_bio) \
  X(PEM_read_bio_X509_CRL) \
  X(PKCS12_create) \
  X(PKCS12_new) \
  X(X509V3_EXT_conf_nid) \
  X(X509V3_set_ctx) \
  X(X509_EXTENSION_free) \
  X(X509_INFO_free) \
  X(X509_NAME_ENTRY_get_object) \
  X(X509_NAME_add_entry_by_NID) \
  X(X509_NAME_add_entry_by_txt) \
  X(X509_NAME_cmp) \
  X(X509_NAME_dup) \
  X(X509_NAME_entry_count) \
  X(X509_NAME_free) \
  X(X509_NAME_get_text_by_NID) \
  X(X509_NAME_new) \
  X(X509_NAME_print_ex) \
  X(X509_STORE_CTX_cleanup) \
  X(X509_STORE_CTX_free) \
  X(X509_STORE_CTX_get0_cert) \
  X(X509_STORE_CTX_get0_param) \
  X(X509_STORE_CTX_get0_store) \
  X(X509_STORE_CTX_get1_chain) \
  X(X509_STORE_CTX_init) \
  X(X509_STORE_CTX_new) \
  X(X509_STORE_CTX_set0_param) \
  X(X509_STORE_CTX_set0_trusted_stack) \
  X(X509_STORE_CTX_set_current_cert) \
  X(X509_STORE_CTX_set_depth) \
  X(X509_STORE_CTX_set_error) \
  X(X509_STORE_CTX_set_error_depth) \
  X(X509_STORE_CTX_set_flags) \
  X(X509_STORE_CTX_set_purpose) \
  X(X509_STORE_add_crl) \
  X(X509_STORE_free) \
  X(X509_STORE_get0_param) \
  X(X509_STORE_load_file) \
  X(X509_STORE_load_locations) \
  X(X509_STORE_new) \
  X(X509_STORE_set_default_paths) \
  X(X509_STORE_set_flags) \
  X(X509_STORE_up_ref) \
  X(X509_VERIFY_PARAM_add1_host) \
  X(X509_VERIFY_PARAM_clear_flags) \
  X(X509_VERIFY_PARAM_free) \
  X(X509_VERIFY_PARAM_get0_peername) \
  X(X509_VERIFY_PARAM_get_flags) \
  X(X509_VERIFY_PARAM_new) \
  X(X509_VERIFY_PARAM_set1_host) \
  X(X509_VERIFY_PARAM_set1_ip) \
  X(X509_VERIFY_PARAM_set1_ip_asc) \
  X(X509_VERIFY_PARAM_set_depth) \
  X(X509_VERIFY_PARAM_set_flags) \
  X(X509_VERIFY_PARAM_set_hostflags) \
  X(X509_VERIFY_PARAM_set_purpose) \
  X(X509_VERIFY_PARAM_set_time) \
  X(X509_add_ext) \
  X(X509_check_ca) \
  X(X509_check_email) \
  X(X509_check_issued) \
  X(X509_check_purpose) \
  X(X509_cmp_current_time) \
  X(X509_cmp_time) \
  X(X509_digest) \
  X(X509_dup) \
  X(X509_get0_notAfter) \
  X(X509_get0_notBefore) \
  X(X509_get0_pubkey) \
  X(X509_get0_serialNumber) \
  X(X509_get_ext) \
  X(X509_get_ext_by_NID) \
  X(X509_get_ext_count) \
  X(X509_get_extended_key_usage) \
  X(X509_get_extension_flags) \
  X(X509_get_key_usage) \
  X(X509_get_pubkey) \
  X(X509_get_serialNumber) \
  X(X509_get_version) \
  X(X509_getm_notAfter) \
  X(X509_getm_notBefore) \
  X(X509_gmtime_adj) \
  X(X509_new) \
  X(X509_print_ex) \
  X(X509_pubkey_digest) \
  X(X509_set_issuer_name) \
  X(X509_set_pubkey) \
  X(X509_set_serialNumber) \
  X(X509_set_subject_name) \
  X(X509_set_version) \
  X(X509_sign) \
  X(X509_time_adj_ex) \
  X(X509_up_ref) \
  X(X509_verify) \
  X(X509_verify_cert) \
  X(d2i_PKCS12_bio) \
  X(d2i_X509_bio) \
  X(i2d_PKCS12) \
  X(i2d_PKCS12_bio) \
  X(i2d_X509_bio)

// Further key, digest and random functions.
#define TLSBRIDGE_KEY_FUNCTIONS(X) \
  X(EVP_MD_get_size) \
  X(EVP_PKEY_CTX_free) \
  X(EVP_PKEY_CTX_new) \
  X(EVP_PKEY_CTX_new_from_name) \
  X(EVP_PKEY_CTX_new_id) \
  X(EVP_PKEY_CTX_set_ec_paramgen_curve_nid) \
  X(EVP_PKEY_CTX_set_rsa_keygen_bits) \
  X(EVP_PKEY_eq) \
  X(EVP_PKEY_generate) \
  X(EVP_PKEY_get_base_id) \
  X(EVP_PKEY_get_bits) \
  X(EVP_PKEY_get_id) \
  X(EVP_PKEY_get_size) \
  X(EVP_PKEY_keygen) \
  X(EVP_PKEY_keygen_init) \
  X(EVP_PKEY_new) \
  X(EVP_PKEY_paramgen_init) \
  X(EVP_PKEY_up_ref) \
  X(EVP_get_digestbyname) \
  X(EVP_sha1) \
  X(EVP_sha256) \
  X(EVP_sha384) \
  X(EVP_sha512) \
  X(PEM_read_bio_PUBKEY) \
  X(PEM_write_bio_PKCS8PrivateKey) \
  X(PEM_write_bio_PUBKEY) \
  X(RAND_bytes) \
  X(RAND_status) \
  X(d2i_AutoPrivateKey) \
  X(d2i_PrivateKey) \
  X(i2d_PrivateKey) \
  X(i2d_PrivateKey_bio)

// Further BIO, stack and memory functions (stack and free macros such as
// sk_X509_num or OPENSSL_free stand for these).
#define TLSBRIDGE_BIO_FUNCTIONS(X) \
  X(BIO_free_all) \
  X(BIO_gets) \
  X(BIO_puts) \
  X(BIO_read_ex) \
  X(BIO_s_file) \
  X(BIO_up_ref) \
  X(BIO_write_ex) \
  X(CRYPTO_get_ex_new_index) \
  X(CRYPTO_malloc) \
  X(OPENSSL_sk_dup) \
  X(OPENSSL_sk_free) \
  X(OPENSSL_sk_new_null) \
  X(OPENSSL_sk_pop) \
  X(OPENSSL_sk_push) \
  X(OPENSSL_sk_shift)

// All of them.
#define TLSBRIDGE_OPENSSL_FUNCTIONS(X) \
  TLSBRIDGE_COMPONENT_FUNCTIONS(X)     \
  TLSBRIDGE_ASIO_FUNCTIONS(X)          \
  TLSBRIDGE_TLS_FUNCTIONS(X)           \
  TLSBRIDGE_ERROR_FUNCTIONS(X)         \
  TLSBRIDGE_CERTIFICATE_FUNCTIONS(X)   \
  TLSBRIDGE_KEY_FUNCTIONS(X)           \
  TLSBRIDGE_BIO_FUNCTIONS(X)
