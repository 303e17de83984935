// The SHA-256 digest of some bytes (32 bytes), from the platform's own
// library: OpenSSL on Linux, CNG (bcrypt) on Windows. On Windows it is the
// one SHA-256 of kalmora.exe, zorvane.exe and kalmora-sim.exe alike.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kalmora::sim {

std::optional<std::string> Sha256Digest(std::string_view bytes);

}  // namespace kalmora::sim
