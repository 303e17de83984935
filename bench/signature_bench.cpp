// What a signed update costs a host: reading the key file and the
// signature, and one verification of an index (OpenSSL's libcrypto here).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

#include "host/signature.h"
#include "update/signed_index.h"

namespace {

struct Signed {
  std::string pem, index, der;
};

Signed MakeSigned() {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"),
                                                          EVP_PKEY_free);
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
  PEM_write_bio_PUBKEY(bio.get(), key.get());
  char* data = nullptr;
  Signed s{std::string(data, static_cast<size_t>(BIO_get_mem_data(bio.get(), &data))),
           "[Versions]\r\nExeVersion=1.0.6\r\nIniVersion=8\r\nExeSha256=" + std::string(64, 'a') +
               "\r\nIniSha256=" + std::string(64, 'b') + "\r\nExpires=2027-01-31\r\n",
           ""};
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  size_t len = 80;
  s.der.resize(len);
  EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get());
  EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(s.der.data()), &len,
                 reinterpret_cast<const unsigned char*>(s.index.data()), s.index.size());
  s.der.resize(len);
  return s;
}

void BM_VerifySignedIndex(benchmark::State& state) {
  const Signed s = MakeSigned();
  for (auto _ : state) {
    auto key = kalmora::ReadP256PublicKeyPem(s.pem);
    auto rs = kalmora::P256SignatureFromDer(s.der);
    auto ok = kalmora::PlatformSignatureVerifier().VerifyP256Sha256(s.index, *key, *rs);
    if (!ok || !*ok) state.SkipWithError("the signature did not verify");
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_VerifySignedIndex)->Unit(benchmark::kMicrosecond);

}  // namespace
