// The one cryptographic question the online update asks of its host: does an
// ECDSA P-256 signature over some bytes verify with a public key?
#pragma once

#include <string_view>

#include "host/result.h"

namespace kalmora {

class SignatureVerifier {
 public:
  virtual ~SignatureVerifier() = default;
  // `public_key` is the point X||Y (64 bytes), `signature` r||s (64 bytes),
  // both already read from their files by the core. True when the signature
  // over SHA-256(message) verifies, false when it does not; a failure when
  // the key itself is unusable (a point that is not on the curve).
  virtual Result<bool> VerifyP256Sha256(std::string_view message, std::string_view public_key,
                                        std::string_view signature) = 0;
};

// The platform's own: OpenSSL's libcrypto (host/sim/signature_posix.cpp) or
// CNG (host/win32/signature_win32.cpp).
SignatureVerifier& PlatformSignatureVerifier();

}  // namespace kalmora
