// OpenSSL helpers of the HTTP object; see HttpTls.h.
#include "rest/http/detail/HttpTls.h"

#include <algorithm>
#include <filesystem>
#include <memory>

#include "platform/Base64Encoding.h"

namespace qvr::rest::detail {

namespace {

struct TBioFree {
  void operator()(BIO* ABio) const { BIO_free(ABio); }
};
struct TX509Free {
  void operator()(X509* ACert) const { X509_free(ACert); }
};
struct TKeyFree {
  void operator()(EVP_PKEY* AKey) const { EVP_PKEY_free(AKey); }
};
using TBio = std::unique_ptr<BIO, TBioFree>;
using TX509 = std::unique_ptr<X509, TX509Free>;
using TKey = std::unique_ptr<EVP_PKEY, TKeyFree>;

std::string BioText(BIO* ABio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(ABio, &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::string NameText(const X509_NAME* AName) {
  TBio bio(BIO_new(BIO_s_mem()));
  if (!bio || AName == nullptr) return {};
  X509_NAME_print_ex(bio.get(), AName, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
  return BioText(bio.get());
}

std::string TimeText(const ASN1_TIME* ATime) {
  TBio bio(BIO_new(BIO_s_mem()));
  if (!bio || ATime == nullptr) return {};
  ASN1_TIME_print(bio.get(), ATime);
  return BioText(bio.get());
}

TX509 ReadCertificate(const std::string& AFile) {
  TBio bio(BIO_new_file(AFile.c_str(), "r"));
  if (!bio) return nullptr;
  return TX509(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

TKey ReadKey(const std::string& AFile) {
  TBio bio(BIO_new_file(AFile.c_str(), "r"));
  if (!bio) return nullptr;
  // A passphrase-protected key is not offered: there is nobody to ask for it.
  static char empty[] = "";
  return TKey(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, empty));
}

// The stack helpers of the headers are inline functions that call the
// library directly; the generic stack functions go through the lazy binding.
int IssuerCount(const STACK_OF(X509_NAME) * AIssuers) {
  return OPENSSL_sk_num(reinterpret_cast<const OPENSSL_STACK*>(AIssuers));
}

bool IssuedByOneOf(X509* ACert, const STACK_OF(X509_NAME) * AIssuers) {
  const X509_NAME* issuer = X509_get_issuer_name(ACert);
  for (int i = 0; i < IssuerCount(AIssuers); ++i) {
    const auto* name = static_cast<const X509_NAME*>(
        OPENSSL_sk_value(reinterpret_cast<const OPENSSL_STACK*>(AIssuers), i));
    if (X509_NAME_cmp(issuer, name) == 0) return true;
  }
  return false;
}

}  // namespace

TX509Certificate DescribeCertificate(X509* ACert) {
  TX509Certificate info;
  if (ACert == nullptr) return info;
  info.Subject = NameText(X509_get_subject_name(ACert));
  info.Issuer = NameText(X509_get_issuer_name(ACert));
  if (BIGNUM* serial = ASN1_INTEGER_to_BN(X509_get_serialNumber(ACert), nullptr)) {
    if (char* hex = BN_bn2hex(serial)) {
      info.SerialNumber = hex;
      OPENSSL_free(hex);
    }
    BN_free(serial);
  }
  info.NotBefore = TimeText(X509_get0_notBefore(ACert));
  info.NotAfter = TimeText(X509_get0_notAfter(ACert));
  char cn[256] = {};
  if (X509_NAME_get_text_by_NID(X509_get_subject_name(ACert), NID_commonName, cn, sizeof(cn)) > 0) {
    info.CommonName = cn;
  }
  TBio bio(BIO_new(BIO_s_mem()));
  if (bio && PEM_write_bio_X509(bio.get(), ACert) == 1) info.Encoded = BioText(bio.get());
  return info;
}

std::string PublicKeyPin(X509* ACert) {
  X509_PUBKEY* key = ACert != nullptr ? X509_get_X509_PUBKEY(ACert) : nullptr;
  if (key == nullptr) return {};
  const int size = i2d_X509_PUBKEY(key, nullptr);
  if (size <= 0) return {};
  std::string der(static_cast<std::size_t>(size), '\0');
  auto* out = reinterpret_cast<unsigned char*>(der.data());
  if (i2d_X509_PUBKEY(key, &out) != size) return {};
  unsigned char hash[EVP_MAX_MD_SIZE];
  unsigned int hashSize = 0;
  if (EVP_Digest(der.data(), der.size(), hash, &hashSize, EVP_sha256(), nullptr) != 1) return {};
  return "sha256//" + TBase64Encoding::Base64().EncodeLine(
                          std::string(reinterpret_cast<const char*>(hash), hashSize));
}

std::vector<TX509Certificate> LoadClientCertificates(const std::string& AFolder,
                                                     const STACK_OF(X509_NAME) * AIssuers) {
  namespace fs = std::filesystem;
  std::vector<TX509Certificate> result;
  std::error_code ec;
  if (AFolder.empty() || !fs::is_directory(AFolder, ec)) return result;
  std::vector<fs::path> files;
  for (fs::directory_iterator it(AFolder, ec), end; !ec && it != end; it.increment(ec)) {
    const auto ext = it->path().extension().string();
    if ((ext == ".crt" || ext == ".pem") && it->is_regular_file(ec)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    fs::path keyFile = file;
    keyFile.replace_extension(".key");
    if (!fs::is_regular_file(keyFile, ec)) keyFile = file;
    TX509 cert = ReadCertificate(file.string());
    TKey key = ReadKey(keyFile.string());
    if (!cert || !key || X509_check_private_key(cert.get(), key.get()) != 1) continue;
    if (AIssuers != nullptr && IssuerCount(AIssuers) > 0 && !IssuedByOneOf(cert.get(), AIssuers)) {
      continue;
    }
    TX509Certificate info = DescribeCertificate(cert.get());
    info.CertificateFile = file.string();
    info.KeyFile = keyFile.string();
    result.push_back(std::move(info));
  }
  return result;
}

bool LoadClientCertificate(const TX509Certificate& ACandidate, X509** ACert, EVP_PKEY** AKey) {
  TX509 cert = ReadCertificate(ACandidate.CertificateFile);
  TKey key = ReadKey(ACandidate.KeyFile);
  if (!cert || !key || X509_check_private_key(cert.get(), key.get()) != 1) return false;
  *ACert = cert.release();
  *AKey = key.release();
  return true;
}

}  // namespace qvr::rest::detail
