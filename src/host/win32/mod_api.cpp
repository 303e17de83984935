#include "host/win32/mod_api.h"

#include <windows.h>

#include <vector>

#include "host/win32/handles.h"

namespace kalmora::modAPI {

// One entry: count (4 bytes), LUID (8) and attributes (4).
static_assert(sizeof(TOKEN_PRIVILEGES) == 16, "the privilege record is 16 bytes");

void EnableShutdownPrivilege() {
  HANDLE process = GetCurrentProcess();
  win32::UniqueHandle token;
  OpenProcessToken(process, 0x28, token.out());  // TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY

  LUID luid{};
  LookupPrivilegeValueA("", "SeShutdownPrivilege", &luid);  // "" is the local system

  TOKEN_PRIVILEGES wanted{};
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Luid = luid;
  wanted.Privileges[0].Attributes = 2;  // SE_PRIVILEGE_ENABLED
  TOKEN_PRIVILEGES previous{};
  DWORD returned = 0;
  AdjustTokenPrivileges(token.get(), FALSE, &wanted, 16, &previous, &returned);
}

std::string ReadIniString(const std::string& section, const std::string& key, const std::string& default_value,
                          const std::string& path, size_t buffer_size) {
  if (buffer_size == 0) return {};
  std::vector<char> buffer(buffer_size, '\0');
  DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), default_value.c_str(), buffer.data(),
                                     static_cast<DWORD>(buffer_size), path.c_str());
  if (n >= buffer_size) n = static_cast<DWORD>(buffer_size - 1);
  return std::string(buffer.data(), n);
}

}  // namespace kalmora::modAPI
