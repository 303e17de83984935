// The checks a downloaded program file must pass before Zorvane swaps it in.
#include "fuzz_input.h"
#include "update/versions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto [bytes] = kalmora::fuzz::Fields<1>(data, size);
  // Data appended to a program file (an installer's overlay, a signature)
  // changes neither verdict, even when it holds a version stamp of its own.
  static const char kOverlay[] = "\0\xBD\x04\xEF\xFE\0\0\x01\0overlay";
  const std::string longer = bytes + std::string(kOverlay, sizeof kOverlay - 1);
  Check(!kalmora::CheckWindowsExecutable(bytes).ok() || kalmora::CheckWindowsExecutable(longer).ok());
  const auto stamped = kalmora::StampedVersion(bytes), again = kalmora::StampedVersion(longer);
  Check(!stamped || (again && again->major == stamped->major && again->minor == stamped->minor &&
                     again->revision == stamped->revision));
  return 0;
}
