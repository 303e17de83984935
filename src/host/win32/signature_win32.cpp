// ECDSA P-256 verification with CNG (bcrypt), for kalmora.exe and
// kalmora-sim.exe on Windows.
#include <cstring>
#include <string>

#include "host/signature.h"
#include "host/sim/digest.h"
#include "host/win32/cng.h"

namespace kalmora {
namespace {

class CngVerifier final : public SignatureVerifier {
 public:
  Result<bool> VerifyP256Sha256(std::string_view message, std::string_view public_key,
                                std::string_view signature) override {
    if (public_key.size() != 64 || signature.size() != 64) return Result<bool>::Failure("wrong lengths");
    win32::CngAlgorithm alg;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(alg.out(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
      return Result<bool>::Failure("CNG offers no ECDSA P-256");
    }
    // The public blob: magic, the length of one coordinate, then X and Y.
    std::string blob(sizeof(BCRYPT_ECCKEY_BLOB), '\0');
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob.data(), &header, sizeof(header));
    blob += public_key;
    win32::CngKey key;
    if (!BCRYPT_SUCCESS(BCryptImportKeyPair(alg.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.out(),
                                            reinterpret_cast<PUCHAR>(blob.data()), static_cast<ULONG>(blob.size()),
                                            0))) {
      return Result<bool>::Failure("CNG refused its point");
    }
    auto digest = sim::Sha256Digest(message);
    if (!digest) return Result<bool>::Failure("CNG could not compute SHA-256");
    std::string rs(signature);
    // CNG takes r||s as it is; any status but success means "does not verify".
    const NTSTATUS status =
        BCryptVerifySignature(key.get(), nullptr, reinterpret_cast<PUCHAR>(digest->data()), 32,
                              reinterpret_cast<PUCHAR>(rs.data()), static_cast<ULONG>(rs.size()), 0);
    return BCRYPT_SUCCESS(status);
  }
};

}  // namespace

SignatureVerifier& PlatformSignatureVerifier() {
  static CngVerifier verifier;
  return verifier;
}

}  // namespace kalmora
