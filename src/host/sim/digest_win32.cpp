#include "host/sim/digest.h"
#include "host/win32/cng.h"

namespace kalmora::sim {

std::optional<std::string> Sha256Digest(std::string_view bytes) {
  win32::CngAlgorithm alg;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(alg.out(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return std::nullopt;
  win32::CngHash hash;
  std::string copy(bytes), digest(32, '\0');
  if (!BCRYPT_SUCCESS(BCryptCreateHash(alg.get(), hash.out(), nullptr, 0, nullptr, 0, 0)) ||
      !BCRYPT_SUCCESS(
          BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(copy.data()), static_cast<ULONG>(copy.size()), 0)) ||
      !BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), reinterpret_cast<PUCHAR>(digest.data()), 32, 0))) {
    return std::nullopt;
  }
  return digest;
}

}  // namespace kalmora::sim
