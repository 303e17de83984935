// The update's version texts: server NUL local. The server's text is read
// as a program version and, when it is one, stamped into a stand-in program
// file named by the local text.
#include <cstdio>

#include "fuzz_input.h"
#include "update/versions.h"

using kalmora::fuzz::Check;

namespace {
bool Same(const kalmora::ProgramVersion& a, const kalmora::ProgramVersion& b) {
  return a.major == b.major && a.minor == b.minor && a.revision == b.revision;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto [server, local] = kalmora::fuzz::Fields<2>(data, size);
  const kalmora::ProgramVersion running{1, 0, 5};
  const auto v = kalmora::ParseServerVersion(server);
  Check(v || !kalmora::IsProgramNewer(server, running));
  if (v) {
    Check(v->major >= 0 && v->minor >= 0 && v->revision >= 0);
    char printed[32];
    std::snprintf(printed, sizeof printed, "%d.%d.%d", v->major, v->minor, v->revision);
    const auto again = kalmora::ParseServerVersion(printed);
    Check(again && Same(*again, *v));
    // A program is never newer than itself: Kalmora would update forever.
    Check(!kalmora::IsProgramNewer(server, *v));
    const std::string exe = kalmora::MakeStandInExecutable(*v, local);
    const auto stamped = kalmora::StampedVersion(exe);
    Check(kalmora::LooksLikeWindowsExecutable(exe) && stamped && Same(*stamped, *v));
  }
  Check(!(kalmora::IsConfigurationNewer(server, local) && kalmora::IsConfigurationNewer(local, server)));
  return 0;
}
