// The logged-on sessions and the desk program in each: the service lists the
// active sessions and starts kalmora-desk.exe in one of them with that
// session's user token on its interactive desktop, in a job like every child
// it waits for.
#include "host/win32/win32_host.h"
// After windows.h, which they need.
#include <userenv.h>

#include <vector>

namespace kalmora::win32 {

namespace {

std::string SessionUser(DWORD session) {
  char* name = nullptr;
  DWORD bytes = 0;
  std::string user;
  if (WTSQuerySessionInformationA(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, &name, &bytes) && name) {
    user = name;
  }
  if (name) WTSFreeMemory(name);
  return user;
}

std::wstring Wide(const std::string& ansi) {
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, out.data(), n);
  return out;
}

}  // namespace

Result<std::vector<DeskSession>> Win32Host::ActiveSessions() {
  WTS_SESSION_INFOA* sessions = nullptr;
  DWORD count = 0;
  std::vector<DeskSession> out;
  if (WTSEnumerateSessionsA(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
    for (DWORD i = 0; i < count; ++i) {
      // Session 0 holds the services and nobody's desktop.
      if (sessions[i].State == WTSActive && sessions[i].SessionId != 0) {
        out.push_back({sessions[i].SessionId, SessionUser(sessions[i].SessionId)});
      }
    }
    WTSFreeMemory(sessions);
  }
  // Where the list names no active session (some editions and emulations
  // list none), the one at the console is still there.
  if (out.empty()) {
    const DWORD console = WTSGetActiveConsoleSessionId();
    if (console != 0xFFFFFFFF && console != 0) out.push_back({console, SessionUser(console)});
  }
  return out;
}

Result<ChildProcess> Win32Host::StartInSession(uint32_t session, const std::string& args) {
  const std::wstring program = Wide(ProgramDirectory() + "\\kalmora-desk.exe");
  std::wstring command = L"\"" + program + L"\" " + Wide(args);
  // The session's user, never the service's rights; a Kalmora run by hand
  // in that very session starts it as itself.
  UniqueHandle token;
  DWORD own = 0;
  const bool ours = ProcessIdToSessionId(GetCurrentProcessId(), &own) && own == session;
  if (!WTSQueryUserToken(session, token.out()) && !ours) {
    return Status::Failure("the user of session " + std::to_string(session) + " is not known (" + LastErrorText() +
                           ")");
  }
  void* environment = nullptr;
  if (token) CreateEnvironmentBlock(&environment, token.get(), FALSE);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.lpDesktop = const_cast<wchar_t*>(L"winsta0\\default");
  PROCESS_INFORMATION pi{};
  const DWORD flags = CREATE_SUSPENDED | (environment ? CREATE_UNICODE_ENVIRONMENT : 0);
  const BOOL started = token ? CreateProcessAsUserW(token.get(), program.c_str(), command.data(), nullptr, nullptr,
                                                    FALSE, flags, environment, nullptr, &si, &pi)
                             : CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, flags, nullptr,
                                              nullptr, &si, &pi);
  const DWORD error = GetLastError();
  if (environment) DestroyEnvironmentBlock(environment);
  if (!started) return Status::Failure(LastErrorText(error));
  return AdoptSuspended(pi);
}

}  // namespace kalmora::win32
