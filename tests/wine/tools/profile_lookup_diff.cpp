// profile_lookup_diff.exe: GetPrivateProfileStringA, as the program calls it,
// over the cases that the simulated host's lookup is tested against; prints
// each case where the system's value differs, and a summary. Exit code 1
// when any case differs.
#include <windows.h>

#include <cstdio>
#include <fstream>

#include "host/win32/mod_api.h"
#include "tests/profile_lookup_cases.h"

// Control bytes and everything past ASCII as \xNN, long texts cut.
static std::string Shown(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s.substr(0, 60)) {
    char hex[8];
    std::snprintf(hex, sizeof hex, c < 0x20 || c >= 0x7F || c == '\\' ? "\\x%02X" : "%c", c);
    out += hex;
  }
  return out + (s.size() > 60 ? "\"... (" + std::to_string(s.size()) + " bytes)" : "\"");
}

int main() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "kalmora-profile-" + std::to_string(GetCurrentProcessId()) + ".ini";
  const auto cases = kalmora::testing::ProfileCases();
  int differ = 0;
  for (const auto& c : cases) {
    DeleteFileA(path.c_str());
    if (c.file && !(std::ofstream(path, std::ios::binary) << *c.file)) {
      std::printf("cannot write %s\n", path.c_str());
      return 2;
    }
    const std::string got = kalmora::modAPI::ReadIniString(c.section, c.key, c.default_value, path, 750);
    if (got != c.expected) {
      std::printf("differs: file %s, [%s] %s, default %s: expected %s, the system gives %s\n",
                  c.file ? Shown(*c.file).c_str() : "(none)", c.section.c_str(), c.key.c_str(),
                  Shown(c.default_value).c_str(), Shown(c.expected).c_str(), Shown(got).c_str());
      ++differ;
    }
  }
  DeleteFileA(path.c_str());
  std::printf("profile lookup: %zu cases, %d differ\n", cases.size(), differ);
  return differ == 0 ? 0 : 1;
}
