// The signed update's files as they arrive: key PEM NUL index NUL signature
// DER (last, since DER holds NULs). The PEM is read as the public key the hosts trust and as the
// private key publish signs with; the DER as the index's signature; the
// index's Expires as a date.
#include <string>

#include "config/numbers.h"
#include "fuzz_input.h"
#include "host/sim/profile_lookup.h"
#include "update/signed_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto [pem, index, der] = kalmora::fuzz::Fields<3>(data, size);
  if (auto key = kalmora::ReadP256PublicKeyPem(pem)) Check(key->size() == 64);
  if (auto key = kalmora::ReadP256PrivateKeyPem(pem)) Check(key->d.size() == 32 && key->public_key.size() == 64);
  // DER has one encoding per value: what reads as a signature is written
  // back byte for byte, so no signature can be read two ways.
  if (auto rs = kalmora::P256SignatureFromDer(der)) {
    Check(rs->size() == 64 && kalmora::P256SignatureToDer(*rs) == der);
  }
  if (index.size() >= 64) {
    const std::string rs = index.substr(0, 64);
    auto back = kalmora::P256SignatureFromDer(kalmora::P256SignatureToDer(rs));
    Check(back.ok() == (rs.substr(0, 32) != std::string(32, '\0') && rs.substr(32) != std::string(32, '\0')));
    Check(!back || *back == rs);
  }
  const std::string expires = kalmora::LookupProfileString(index, "Versions", "Expires", "", 750);
  if (auto date = kalmora::ParseIndexDate(kalmora::TrimBlanks(expires))) {
    Check(kalmora::FormatIndexDate(*date) == kalmora::TrimBlanks(expires));
    Check(kalmora::AddDays(kalmora::AddDays(*date, 3660), -3660) == *date && kalmora::AddDays(*date, 1) > *date);
  }
  return 0;
}
