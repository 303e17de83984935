// The update's version texts: server NUL local. The server's text is read
// as a program version and, when it is one, stamped into a stand-in program
// file named by the local text.
#include <string>

#include "fuzz_input.h"
#include "update/versions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto [server, local] = kalmora::fuzz::Fields<2>(data, size);
  const auto v = kalmora::ParseServerVersion(server);
  Check(v || !kalmora::IsProgramNewer(server, kalmora::ProgramVersion{1, 0, 5}));
  if (v) {
    const auto same = [&](const std::optional<kalmora::ProgramVersion>& w) {
      return w && w->major == v->major && w->minor == v->minor && w->revision == v->revision;
    };
    Check(v->major >= 0 && v->minor >= 0 && v->revision >= 0);
    Check(same(kalmora::ParseServerVersion(std::to_string(v->major) + "." + std::to_string(v->minor) + "." +
                                           std::to_string(v->revision))));
    // A program is never newer than itself: Kalmora would update forever.
    Check(!kalmora::IsProgramNewer(server, *v));
    const std::string exe = kalmora::MakeStandInExecutable(*v, local);
    Check(kalmora::LooksLikeWindowsExecutable(exe) && same(kalmora::StampedVersion(exe)));
  }
  Check(!(kalmora::IsConfigurationNewer(server, local) && kalmora::IsConfigurationNewer(local, server)));
  return 0;
}
