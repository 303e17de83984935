// Signing for kalmora-sim publish with OpenSSL's libcrypto.
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

#include "tools/publish.h"

namespace kalmora {

Result<std::string> SignP256Sha256(std::string_view pem, const P256PrivateKey&, std::string_view message) {
  using R = Result<std::string>;
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
  // No passphrase prompt: the core has already refused an encrypted key.
  auto no_passphrase = [](char*, int, int, void*) { return -1; };
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, no_passphrase, nullptr) : nullptr, EVP_PKEY_free);
  if (!key) return R::Failure("libcrypto cannot read the private key");
  if (!EVP_PKEY_is_a(key.get(), "EC")) return R::Failure("libcrypto reads no EC key in it");
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  size_t len = 0;
  const auto* data = reinterpret_cast<const unsigned char*>(message.data());
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &len, data, message.size()) != 1) {
    return R::Failure("libcrypto could not sign");
  }
  std::string der(len, '\0');
  if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(der.data()), &len, data, message.size()) != 1) {
    return R::Failure("libcrypto could not sign");
  }
  der.resize(len);
  return der;
}

}  // namespace kalmora
