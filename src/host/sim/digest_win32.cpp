#include <windows.h>
// bcrypt.h needs the types windows.h declares.
#include <bcrypt.h>

#include "host/sim/digest.h"

namespace kalmora::sim {

std::optional<std::string> Sha256Digest(std::string_view bytes) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return std::nullopt;
  BCRYPT_HASH_HANDLE hash = nullptr;
  unsigned char digest[32];
  std::string copy(bytes);
  const bool ok =
      BCRYPT_SUCCESS(BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0)) &&
      BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(copy.data()), static_cast<ULONG>(copy.size()), 0)) &&
      BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof(digest), 0));
  if (hash) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(alg, 0);
  if (!ok) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(digest), sizeof(digest));
}

}  // namespace kalmora::sim
