// OpenSSL helpers of the HTTP object: what the certificate events learn of a
// certificate, and the client-certificate candidates of the per-user folder.
// Used only by the HTTP object's .cpp files.
#pragma once

#include "rest/http/detail/LazyLibs.h"

#include <string>
#include <vector>

#include "rest/http/HTTPTypes.h"

namespace qvr::rest::detail {

// Subject, issuer, serial number, validity, common name and PEM form of ACert.
TX509Certificate DescribeCertificate(X509* ACert);

// The pin of ACert's public key as curl takes it (CURLOPT_PINNEDPUBLICKEY):
// "sha256//" and the base64 form of the SHA-256 hash of its DER-encoded
// SubjectPublicKeyInfo. Empty when the key cannot be encoded.
std::string PublicKeyPin(X509* ACert);

// The certificate/key pairs of AFolder, in file-name order: every "*.crt" or
// "*.pem" file with a certificate and a private key that belongs to it, the key
// taken from "<name>.key" when that file exists, else from the same file.
// Files that cannot be read or do not hold such a pair are skipped. With
// AIssuers not empty, only certificates issued by one of them are kept.
std::vector<TX509Certificate> LoadClientCertificates(const std::string& AFolder,
                                                     const STACK_OF(X509_NAME) * AIssuers);

// Loads the pair described by ACandidate; false (nothing allocated) when the
// files no longer hold it. On success the caller owns *ACert and *AKey.
bool LoadClientCertificate(const TX509Certificate& ACandidate, X509** ACert, EVP_PKEY** AKey);

}  // namespace qvr::rest::detail
