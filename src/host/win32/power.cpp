// The halt of the host and what the halt looks at first: the power states the
// host offers, installed updates that wait for a restart, and the programs
// that run.
#include "host/win32/win32_host.h"
// After windows.h, which they need.
#include <powrprof.h>
#include <tlhelp32.h>

#include <vector>

#include "host/win32/mod_api.h"

namespace kalmora::win32 {

namespace {

// The system's words and the error's number, which an administrator can
// look up when the words are not enough.
std::string ErrorReason(DWORD error) { return LastErrorText(error) + " (error " + std::to_string(error) + ")"; }

// The program's texts are in the ANSI code page, in which kalmora.ini is
// read: a holiday's name in the shutdown's comment, a program's name
// compared with those listed there and written in the entries.
std::wstring Wide(const std::string& ansi) {
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, out.data(), n);
  return out;
}

std::string Ansi(const wchar_t* wide) {
  const int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_ACP, 0, wide, -1, out.data(), n, nullptr, nullptr);
  return out;
}

// Servicing and Windows Update each leave a key of their own while installed
// updates wait for a restart. Both live in the 64-bit view of the registry,
// which a 32-bit reader would otherwise not see.
constexpr const wchar_t* kRestartKeys[] = {
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending",
};

}  // namespace

void Win32Host::Beep(uint32_t hz, uint32_t ms) { ::Beep(hz, ms); }

void Win32Host::EnableShutdownPrivilege() { modAPI::EnableShutdownPrivilege(); }

// Forced: programs that do not end are ended. Every bit of the reason set,
// as the service has always asked.
void Win32Host::ExitWindowsEx(ShutdownMode) { ::ExitWindowsEx(EWX_SHUTDOWN | EWX_FORCE, 0xFFFFFFFFu); }

PowerCapabilities Win32Host::Capabilities() {
  SYSTEM_POWER_CAPABILITIES caps{};
  if (!GetPwrCapabilities(&caps)) return {};
  // Hibernation needs its file as well as the firmware's S4.
  return {caps.SystemS4 && caps.HiberFilePresent, caps.SystemS3 != 0};
}

bool Win32Host::UpdatesPending() {
  for (const wchar_t* path : kRestartKeys) {
    KeyHandle key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | KEY_WOW64_64KEY, key.out()) == ERROR_SUCCESS) {
      return true;
    }
  }
  return false;
}

Status Win32Host::InitiateShutdown(uint32_t flags, uint32_t reason, const std::string& comment) {
  std::wstring text = Wide(comment);
  // No grace period: the countdown before it was the warning.
  const DWORD error = InitiateShutdownW(nullptr, text.data(), 0, flags, reason);
  return error == ERROR_SUCCESS ? Status() : Status::Failure(ErrorReason(error));
}

Status Win32Host::SetSuspendState(bool hibernate) {
  // Wake events stay on, so that a wake timer or the network can bring the
  // host back (the second argument has had no effect since Vista).
  if (::SetSuspendState(hibernate, FALSE, FALSE)) return Status();
  return Status::Failure(ErrorReason(GetLastError()));
}

Result<std::vector<RunningProgram>> Win32Host::RunningPrograms() {
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return Status::Failure("the running programs could not be listed: " + ErrorReason(GetLastError()));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  std::vector<RunningProgram> out;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    std::string name = Ansi(entry.szExeFile);
    // The file name alone, should a path come with it.
    name.erase(0, name.find_last_of('\\') + 1);
    out.push_back({std::move(name), static_cast<uint32_t>(entry.th32ProcessID)});
  }
  return out;
}

}  // namespace kalmora::win32
