#include <openssl/evp.h>

#include "host/sim/digest.h"

namespace kalmora::sim {

std::optional<std::string> Sha256Digest(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &len, EVP_sha256(), nullptr) != 1) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(digest), len);
}

}  // namespace kalmora::sim
