// The file formats of a signed update, read without any cryptography: the
// public key (PEM), the index's signature (DER), the publisher's private key
// and the index's Expires date. Both hosts then get the same raw numbers.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "host/host.h"
#include "host/result.h"

namespace kalmora {

// Where the administrator puts the trust anchor; the update never writes it.
inline constexpr const char* kUpdateKeyFile = "system\\update-key.pem";

// A "PUBLIC KEY" PEM block (SubjectPublicKeyInfo, as `openssl ec -pubout`
// writes it) holding an uncompressed P-256 point: its X||Y, 64 bytes.
Result<std::string> ReadP256PublicKeyPem(std::string_view pem);

// An ECDSA signature as DER (SEQUENCE of two INTEGERs, as `openssl dgst
// -sign` writes it), strictly encoded: r||s, 32 bytes each.
Result<std::string> P256SignatureFromDer(std::string_view der);

// The other way round, for the publisher on Windows, whose library gives r||s
// (64 bytes; anything else gives nothing).
std::string P256SignatureToDer(std::string_view rs);

struct P256PrivateKey {
  std::string d;           // 32 bytes
  std::string public_key;  // X||Y, 64 bytes
};

// An "EC PRIVATE KEY" (SEC1, as `openssl ecparam -genkey` writes it) or
// unencrypted "PRIVATE KEY" (PKCS#8) PEM block on P-256 that carries its
// public point.
Result<P256PrivateKey> ReadP256PrivateKeyPem(std::string_view pem);

struct IndexDate {
  int year = 0, month = 0, day = 0;
  auto operator<=>(const IndexDate&) const = default;
};

// YYYY-MM-DD, a day that exists.
std::optional<IndexDate> ParseIndexDate(std::string_view text);
std::string FormatIndexDate(const IndexDate& d);
// `days` after `from` in the calendar.
IndexDate AddDays(IndexDate from, int days);

}  // namespace kalmora
