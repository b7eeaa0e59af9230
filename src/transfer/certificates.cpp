#include "transfer/certificates.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace {
struct TFreeX509 {
  void operator()(X509* x) const { X509_free(x); }
};
struct TFreeBio {
  void operator()(BIO* b) const { BIO_free(b); }
};

std::string NameText(const X509_NAME* name) {
  std::unique_ptr<BIO, TFreeBio> out(BIO_new(BIO_s_mem()));
  X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long size = BIO_get_mem_data(out.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

std::string TimeText(const ASN1_TIME* time) {
  std::unique_ptr<BIO, TFreeBio> out(BIO_new(BIO_s_mem()));
  ASN1_TIME_print(out.get(), time);
  char* data = nullptr;
  const long size = BIO_get_mem_data(out.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

std::string Sha256(const unsigned char* data, std::size_t size) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(data, size, digest);
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

std::string ColonHex(const std::string& bytes) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string text;
  for (const unsigned char c : bytes) {
    if (!text.empty()) text += ':';
    text += kHex[c >> 4];
    text += kHex[c & 15];
  }
  return text;
}

std::string Base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                     reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(length));
  return out;
}
}  // namespace

std::optional<TCertificate> ReadCertificate(const std::string& pem) {
  std::unique_ptr<BIO, TFreeBio> in(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  std::unique_ptr<X509, TFreeX509> x509(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr));
  if (!x509) return std::nullopt;
  TCertificate certificate;
  certificate.Subject = NameText(X509_get_subject_name(x509.get()));
  certificate.Issuer = NameText(X509_get_issuer_name(x509.get()));
  certificate.NotAfter = TimeText(X509_get0_notAfter(x509.get()));
  unsigned char* der = nullptr;
  const int derSize = i2d_X509(x509.get(), &der);
  if (derSize <= 0) return std::nullopt;
  certificate.Fingerprint = ColonHex(Sha256(der, static_cast<std::size_t>(derSize)));
  OPENSSL_free(der);
  unsigned char* key = nullptr;
  const int keySize = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(x509.get()), &key);
  if (keySize <= 0) return std::nullopt;
  certificate.KeyPin = "sha256//" + Base64(Sha256(key, static_cast<std::size_t>(keySize)));
  OPENSSL_free(key);
  return certificate;
}

bool IsSelfSignedVerifyResult(long result) {
  return result == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT || result == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN;
}

std::string CertificateQuestion(const std::string& where, const std::string& cause, const TCertificate& certificate) {
  return "The certificate of " + where + " is not trusted (" + cause + ").\r\n" + "Subject: " + certificate.Subject +
         "\r\nIssuer: " + certificate.Issuer + "\r\nValid until: " + certificate.NotAfter +
         "\r\nSHA-256 fingerprint: " + certificate.Fingerprint +
         "\r\nTrust this certificate while the FTP window is open?";
}
