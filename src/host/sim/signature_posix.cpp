// ECDSA P-256 verification with OpenSSL's libcrypto, for the simulated host
// and kalmora-sim on Linux.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

#include "host/signature.h"
#include "update/signed_index.h"

namespace kalmora {
namespace {

// SubjectPublicKeyInfo of an uncompressed P-256 point, up to the point's
// X||Y: the one form this verifier is ever given.
const std::string_view kP256SpkiPrefix(
    "\x30\x59\x30\x13\x06\x07\x2A\x86\x48\xCE\x3D\x02\x01\x06\x08\x2A\x86\x48\xCE\x3D\x03\x01\x07\x03\x42\x00\x04", 27);

class OpenSslVerifier final : public SignatureVerifier {
 public:
  Result<bool> VerifyP256Sha256(std::string_view message, std::string_view public_key,
                                std::string_view signature) override {
    if (public_key.size() != 64 || signature.size() != 64) return Result<bool>::Failure("wrong lengths");
    const std::string spki = std::string(kP256SpkiPrefix) + std::string(public_key);
    const auto* p = reinterpret_cast<const unsigned char*>(spki.data());
    // d2i_PUBKEY checks that the point lies on the curve.
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size())),
                                                            EVP_PKEY_free);
    if (!key) return Result<bool>::Failure("its point is not on the curve");
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
      return Result<bool>::Failure("libcrypto could not set up the verification");
    }
    const std::string der = P256SignatureToDer(signature);
    const int ok = EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(der.data()), der.size(),
                                    reinterpret_cast<const unsigned char*>(message.data()), message.size());
    return ok == 1;
  }
};

}  // namespace

SignatureVerifier& PlatformSignatureVerifier() {
  static OpenSslVerifier verifier;
  return verifier;
}

}  // namespace kalmora
