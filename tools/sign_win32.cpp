// Signing for kalmora-sim.exe publish with CNG (bcrypt).
#include <windows.h>
// bcrypt.h needs the types windows.h declares.
#include <bcrypt.h>

#include <cstring>

#include "host/sim/digest.h"
#include "tools/publish.h"

namespace kalmora {

Result<std::string> SignP256Sha256(std::string_view, const P256PrivateKey& key, std::string_view message) {
  using R = Result<std::string>;
  auto digest = sim::Sha256Digest(message);
  if (!digest) return R::Failure("CNG could not compute SHA-256");
  BCRYPT_ALG_HANDLE alg = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    return R::Failure("CNG offers no ECDSA P-256");
  }
  // The private blob: magic, the length of one number, then X, Y and d.
  std::string blob(sizeof(BCRYPT_ECCKEY_BLOB), '\0');
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof(header));
  blob += key.public_key + key.d;
  BCRYPT_KEY_HANDLE handle = nullptr;
  std::string rs(64, '\0');
  ULONG len = 0;
  const bool ok =
      BCRYPT_SUCCESS(BCryptImportKeyPair(alg, nullptr, BCRYPT_ECCPRIVATE_BLOB, &handle,
                                         reinterpret_cast<PUCHAR>(blob.data()), static_cast<ULONG>(blob.size()), 0)) &&
      BCRYPT_SUCCESS(BCryptSignHash(handle, nullptr, reinterpret_cast<PUCHAR>(digest->data()), 32,
                                    reinterpret_cast<PUCHAR>(rs.data()), 64, &len, 0)) &&
      len == 64;
  if (handle) BCryptDestroyKey(handle);
  BCryptCloseAlgorithmProvider(alg, 0);
  SecureZeroMemory(blob.data(), blob.size());
  if (!ok) return R::Failure("CNG could not sign with the key");
  return P256SignatureToDer(rs);
}

}  // namespace kalmora
