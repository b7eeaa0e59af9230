// What the FTP window shows of a server's TLS certificate when no authority
// the system trusts vouches for it, and the pin that holds the user to the
// one they trusted.
#pragma once

#include <optional>
#include <string>

struct TCertificate {
  std::string Subject;      // "CN=exchange.example"
  std::string Issuer;
  std::string NotAfter;     // "Dec  9 02:59:18 2026 GMT"
  std::string Fingerprint;  // SHA-256 of the certificate: "AB:CD:..." (as openssl x509 -fingerprint shows)
  std::string KeyPin;       // "sha256//" and the base64 SHA-256 of its public key, for CURLOPT_PINNEDPUBLICKEY
};

// The first certificate of a PEM text; nullopt when there is none.
std::optional<TCertificate> ReadCertificate(const std::string& pem);

// OpenSSL's verify results for a certificate that signs itself (alone, or
// at the top of the chain): the case the user is asked about.
bool IsSelfSignedVerifyResult(long result);

// The question: whom, why, and the fingerprint to compare.
std::string CertificateQuestion(const std::string& where, const std::string& cause, const TCertificate& certificate);
