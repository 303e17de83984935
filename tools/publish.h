// kalmora-sim publish: writes a signed update for the update server, and the
// signing it needs from the platform's own cryptography.
#pragma once

#include <string>
#include <string_view>

#include "host/result.h"
#include "update/signed_index.h"

namespace kalmora {

// kalmora-sim publish --key PRIVATE.pem [--ini FILE --ini-version V]
// [--exe FILE] --expires DAYS --out DIR. Exit status 0 written, 2 refused
// (nothing written), 3 unusable arguments.
int Publish(int argc, char** argv);

// An ECDSA P-256 signature with SHA-256 over `message`, as DER. `pem` is the
// key file as given and `key` what the core read from it: OpenSSL reads the
// file itself (tools/sign_posix.cpp), CNG takes the numbers
// (tools/sign_win32.cpp).
Result<std::string> SignP256Sha256(std::string_view pem, const P256PrivateKey& key, std::string_view message);

}  // namespace kalmora
