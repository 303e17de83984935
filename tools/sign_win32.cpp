// Signing for kalmora-sim.exe publish with CNG (bcrypt).
#include <cstring>

#include "host/sim/digest.h"
#include "host/win32/cng.h"
#include "tools/publish.h"

namespace kalmora {

Result<std::string> SignP256Sha256(std::string_view, const P256PrivateKey& key, std::string_view message) {
  using R = Result<std::string>;
  auto digest = sim::Sha256Digest(message);
  if (!digest) return R::Failure("CNG could not compute SHA-256");
  win32::CngAlgorithm alg;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(alg.out(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    return R::Failure("CNG offers no ECDSA P-256");
  }
  // The private blob: magic, the length of one number, then X, Y and d.
  std::string blob(sizeof(BCRYPT_ECCKEY_BLOB), '\0');
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof(header));
  blob += key.public_key + key.d;
  win32::CngKey handle;
  std::string rs(64, '\0');
  ULONG len = 0;
  const bool ok =
      BCRYPT_SUCCESS(BCryptImportKeyPair(alg.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, handle.out(),
                                         reinterpret_cast<PUCHAR>(blob.data()), static_cast<ULONG>(blob.size()), 0)) &&
      BCRYPT_SUCCESS(BCryptSignHash(handle.get(), nullptr, reinterpret_cast<PUCHAR>(digest->data()), 32,
                                    reinterpret_cast<PUCHAR>(rs.data()), 64, &len, 0)) &&
      len == 64;
  SecureZeroMemory(blob.data(), blob.size());
  if (!ok) return R::Failure("CNG could not sign with the key");
  return P256SignatureToDer(rs);
}

}  // namespace kalmora
