// The HTTP layer's view of libcurl and OpenSSL, loaded on first use.
//
// Linking those libraries into every program would load them, and the two
// dozen libraries they depend on, at every start, which costs a desktop
// program like the options utility more than half of its start-up time,
// although it never makes a request. So the core links neither: every
// function the HTTP layer calls is resolved from the library the first time it
// is called (dlopen/dlsym), and the names below stand for those lazily bound
// functions. Include this header instead of the libraries' own headers in
// every file of the HTTP layer, and call no library function that it does not
// list (inline helpers of the headers that call the libraries, such as
// sk_X509_NAME_num, are not covered).
#pragma once

// The type-checking macros of the curl headers would hide the functions
// behind macros of the same name.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

// Without type checking the curl header still names these two through
// function-like macros of their own name; the lazy functions take the names.
#undef curl_easy_setopt
#undef curl_easy_getinfo

namespace qvr::rest::detail::lazy {

enum class TLibrary { Curl, Ssl, Crypto };

// The address of ASymbol in ALibrary, loading the library on first use.
// Raises ENetHTTPClientException "Error obtaining session handle" when the
// library or the symbol cannot be found.
void* Symbol(TLibrary ALibrary, const char* ASymbol);

// Each function keeps the library's own signature (taken from its
// declaration) and resolves it once.
#define QVR_LAZY_FUNCTION(LIBRARY, NAME)                                       \
  template <typename... TArgs>                                                 \
  inline auto NAME(TArgs... AArgs) {                                           \
    static const auto real =                                                   \
        reinterpret_cast<decltype(&::NAME)>(Symbol(TLibrary::LIBRARY, #NAME)); \
    return real(AArgs...);                                                     \
  }

QVR_LAZY_FUNCTION(Curl, curl_global_init)
QVR_LAZY_FUNCTION(Curl, curl_easy_init)
QVR_LAZY_FUNCTION(Curl, curl_easy_cleanup)
QVR_LAZY_FUNCTION(Curl, curl_easy_setopt)
QVR_LAZY_FUNCTION(Curl, curl_easy_getinfo)
QVR_LAZY_FUNCTION(Curl, curl_easy_strerror)
QVR_LAZY_FUNCTION(Curl, curl_multi_init)
QVR_LAZY_FUNCTION(Curl, curl_multi_cleanup)
QVR_LAZY_FUNCTION(Curl, curl_multi_add_handle)
QVR_LAZY_FUNCTION(Curl, curl_multi_remove_handle)
QVR_LAZY_FUNCTION(Curl, curl_multi_perform)
QVR_LAZY_FUNCTION(Curl, curl_multi_poll)
QVR_LAZY_FUNCTION(Curl, curl_multi_info_read)
QVR_LAZY_FUNCTION(Curl, curl_multi_strerror)
QVR_LAZY_FUNCTION(Curl, curl_slist_append)
QVR_LAZY_FUNCTION(Curl, curl_slist_free_all)
QVR_LAZY_FUNCTION(Curl, curl_url)
QVR_LAZY_FUNCTION(Curl, curl_url_cleanup)
QVR_LAZY_FUNCTION(Curl, curl_url_get)
QVR_LAZY_FUNCTION(Curl, curl_url_set)
QVR_LAZY_FUNCTION(Curl, curl_url_strerror)
QVR_LAZY_FUNCTION(Curl, curl_free)
QVR_LAZY_FUNCTION(Curl, curl_getdate)
QVR_LAZY_FUNCTION(Curl, curl_version_info)

QVR_LAZY_FUNCTION(Ssl, SSL_CTX_get_ex_data)
QVR_LAZY_FUNCTION(Ssl, SSL_CTX_get_verify_mode)
QVR_LAZY_FUNCTION(Ssl, SSL_CTX_set_client_cert_cb)
QVR_LAZY_FUNCTION(Ssl, SSL_CTX_set_ex_data)
QVR_LAZY_FUNCTION(Ssl, SSL_CTX_set_verify)
QVR_LAZY_FUNCTION(Ssl, SSL_get_SSL_CTX)
QVR_LAZY_FUNCTION(Ssl, SSL_get_client_CA_list)
QVR_LAZY_FUNCTION(Ssl, SSL_get_ex_data_X509_STORE_CTX_idx)

QVR_LAZY_FUNCTION(Crypto, ASN1_INTEGER_to_BN)
QVR_LAZY_FUNCTION(Crypto, ASN1_TIME_print)
QVR_LAZY_FUNCTION(Crypto, BIO_ctrl)
QVR_LAZY_FUNCTION(Crypto, BIO_free)
QVR_LAZY_FUNCTION(Crypto, BIO_new)
QVR_LAZY_FUNCTION(Crypto, BIO_new_file)
QVR_LAZY_FUNCTION(Crypto, BIO_s_mem)
QVR_LAZY_FUNCTION(Crypto, BN_bn2hex)
QVR_LAZY_FUNCTION(Crypto, BN_free)
QVR_LAZY_FUNCTION(Crypto, CRYPTO_free)
QVR_LAZY_FUNCTION(Crypto, CRYPTO_get_ex_new_index)
QVR_LAZY_FUNCTION(Crypto, EVP_Digest)
QVR_LAZY_FUNCTION(Crypto, EVP_PKEY_free)
QVR_LAZY_FUNCTION(Crypto, EVP_sha256)
QVR_LAZY_FUNCTION(Crypto, OPENSSL_sk_num)
QVR_LAZY_FUNCTION(Crypto, OPENSSL_sk_value)
QVR_LAZY_FUNCTION(Crypto, PEM_read_bio_PrivateKey)
QVR_LAZY_FUNCTION(Crypto, PEM_read_bio_X509)
QVR_LAZY_FUNCTION(Crypto, PEM_write_bio_X509)
QVR_LAZY_FUNCTION(Crypto, X509_NAME_cmp)
QVR_LAZY_FUNCTION(Crypto, X509_NAME_get_text_by_NID)
QVR_LAZY_FUNCTION(Crypto, X509_NAME_print_ex)
QVR_LAZY_FUNCTION(Crypto, X509_STORE_CTX_get0_cert)
QVR_LAZY_FUNCTION(Crypto, X509_STORE_CTX_get_ex_data)
QVR_LAZY_FUNCTION(Crypto, X509_check_private_key)
QVR_LAZY_FUNCTION(Crypto, X509_free)
QVR_LAZY_FUNCTION(Crypto, X509_get0_notAfter)
QVR_LAZY_FUNCTION(Crypto, X509_get0_notBefore)
QVR_LAZY_FUNCTION(Crypto, X509_get_issuer_name)
QVR_LAZY_FUNCTION(Crypto, X509_get_serialNumber)
QVR_LAZY_FUNCTION(Crypto, X509_get_subject_name)
QVR_LAZY_FUNCTION(Crypto, X509_get_X509_PUBKEY)
QVR_LAZY_FUNCTION(Crypto, i2d_X509_PUBKEY)

#undef QVR_LAZY_FUNCTION

}  // namespace qvr::rest::detail::lazy

#define QVR_LAZY(NAME) ::qvr::rest::detail::lazy::NAME
#define curl_global_init QVR_LAZY(curl_global_init)
#define curl_easy_init QVR_LAZY(curl_easy_init)
#define curl_easy_cleanup QVR_LAZY(curl_easy_cleanup)
#define curl_easy_setopt QVR_LAZY(curl_easy_setopt)
#define curl_easy_getinfo QVR_LAZY(curl_easy_getinfo)
#define curl_easy_strerror QVR_LAZY(curl_easy_strerror)
#define curl_multi_init QVR_LAZY(curl_multi_init)
#define curl_multi_cleanup QVR_LAZY(curl_multi_cleanup)
#define curl_multi_add_handle QVR_LAZY(curl_multi_add_handle)
#define curl_multi_remove_handle QVR_LAZY(curl_multi_remove_handle)
#define curl_multi_perform QVR_LAZY(curl_multi_perform)
#define curl_multi_poll QVR_LAZY(curl_multi_poll)
#define curl_multi_info_read QVR_LAZY(curl_multi_info_read)
#define curl_multi_strerror QVR_LAZY(curl_multi_strerror)
#define curl_slist_append QVR_LAZY(curl_slist_append)
#define curl_slist_free_all QVR_LAZY(curl_slist_free_all)
#define curl_url QVR_LAZY(curl_url)
#define curl_url_cleanup QVR_LAZY(curl_url_cleanup)
#define curl_url_get QVR_LAZY(curl_url_get)
#define curl_url_set QVR_LAZY(curl_url_set)
#define curl_url_strerror QVR_LAZY(curl_url_strerror)
#define curl_free QVR_LAZY(curl_free)
#define curl_getdate QVR_LAZY(curl_getdate)
#define curl_version_info QVR_LAZY(curl_version_info)
#define SSL_CTX_get_ex_data QVR_LAZY(SSL_CTX_get_ex_data)
#define SSL_CTX_get_verify_mode QVR_LAZY(SSL_CTX_get_verify_mode)
#define SSL_CTX_set_client_cert_cb QVR_LAZY(SSL_CTX_set_client_cert_cb)
#define SSL_CTX_set_ex_data QVR_LAZY(SSL_CTX_set_ex_data)
#define SSL_CTX_set_verify QVR_LAZY(SSL_CTX_set_verify)
#define SSL_get_SSL_CTX QVR_LAZY(SSL_get_SSL_CTX)
#define SSL_get_client_CA_list QVR_LAZY(SSL_get_client_CA_list)
#define SSL_get_ex_data_X509_STORE_CTX_idx QVR_LAZY(SSL_get_ex_data_X509_STORE_CTX_idx)
#define ASN1_INTEGER_to_BN QVR_LAZY(ASN1_INTEGER_to_BN)
#define ASN1_TIME_print QVR_LAZY(ASN1_TIME_print)
#define BIO_ctrl QVR_LAZY(BIO_ctrl)
#define BIO_free QVR_LAZY(BIO_free)
#define BIO_new QVR_LAZY(BIO_new)
#define BIO_new_file QVR_LAZY(BIO_new_file)
#define BIO_s_mem QVR_LAZY(BIO_s_mem)
#define BN_bn2hex QVR_LAZY(BN_bn2hex)
#define BN_free QVR_LAZY(BN_free)
#define CRYPTO_free QVR_LAZY(CRYPTO_free)
#define CRYPTO_get_ex_new_index QVR_LAZY(CRYPTO_get_ex_new_index)
#define EVP_Digest QVR_LAZY(EVP_Digest)
#define EVP_PKEY_free QVR_LAZY(EVP_PKEY_free)
#define EVP_sha256 QVR_LAZY(EVP_sha256)
#define OPENSSL_sk_num QVR_LAZY(OPENSSL_sk_num)
#define OPENSSL_sk_value QVR_LAZY(OPENSSL_sk_value)
#define PEM_read_bio_PrivateKey QVR_LAZY(PEM_read_bio_PrivateKey)
#define PEM_read_bio_X509 QVR_LAZY(PEM_read_bio_X509)
#define PEM_write_bio_X509 QVR_LAZY(PEM_write_bio_X509)
#define X509_NAME_cmp QVR_LAZY(X509_NAME_cmp)
#define X509_NAME_get_text_by_NID QVR_LAZY(X509_NAME_get_text_by_NID)
#define X509_NAME_print_ex QVR_LAZY(X509_NAME_print_ex)
#define X509_STORE_CTX_get0_cert QVR_LAZY(X509_STORE_CTX_get0_cert)
#define X509_STORE_CTX_get_ex_data QVR_LAZY(X509_STORE_CTX_get_ex_data)
#define X509_check_private_key QVR_LAZY(X509_check_private_key)
#define X509_free QVR_LAZY(X509_free)
#define X509_get0_notAfter QVR_LAZY(X509_get0_notAfter)
#define X509_get0_notBefore QVR_LAZY(X509_get0_notBefore)
#define X509_get_issuer_name QVR_LAZY(X509_get_issuer_name)
#define X509_get_serialNumber QVR_LAZY(X509_get_serialNumber)
#define X509_get_subject_name QVR_LAZY(X509_get_subject_name)
#define X509_get_X509_PUBKEY QVR_LAZY(X509_get_X509_PUBKEY)
#define i2d_X509_PUBKEY QVR_LAZY(i2d_X509_PUBKEY)
