// The service side of the Windows host: registration with the service
// manager and the event log, the conversation with the service manager and
// the event log entries.
//
// The service control dispatcher runs on a helper thread. Its ServiceMain
// and control handler only report pending states and post the start and
// stop requests to the program's window; the program's one thread answers
// them while it processes messages.
#include "host/win32/win32_host.h"

namespace kalmora::win32 {

namespace {

constexpr const char* kServiceName = "Kalmora";
constexpr const char* kDisplayName = "Kalmora Service";
constexpr const char* kEventSource = "Kalmora";
constexpr const char* kEventSourceKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kalmora";
// How long the service manager should wait for the next state.
constexpr DWORD kStartWaitHintMs = 30000;
constexpr DWORD kStopWaitHintMs = 10000;
// How long -uninstall waits for a running service to stop before it removes it.
constexpr DWORD kUninstallStopWaitMs = 30000;

// ServiceMain receives no context; there is one service per process.
Win32Host* g_service_host = nullptr;

std::string OwnPath() {
  char buffer[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
  return n == 0 || n >= sizeof(buffer) ? std::string() : std::string(buffer, n);
}

// The Application log's entry for our source: Event Viewer takes the texts
// from the message table compiled into the program file.
Status RegisterEventSourceKey(const std::string& exe) {
  KeyHandle key;
  LSTATUS e = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                              nullptr, key.out(), nullptr);
  if (e != ERROR_SUCCESS) return Status::Failure(LastErrorText(static_cast<DWORD>(e)));
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  e = RegSetValueExA(key.get(), "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(exe.c_str()),
                     static_cast<DWORD>(exe.size() + 1));
  if (e == ERROR_SUCCESS) {
    e = RegSetValueExA(key.get(), "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof(types));
  }
  return e == ERROR_SUCCESS ? Status() : Status::Failure(LastErrorText(static_cast<DWORD>(e)));
}

// A crashed service comes back after a minute, twice; a third crash within a
// day leaves it down rather than restarting it in a loop. The service
// manager counts only an end without SERVICE_STOPPED: every orderly end
// (after the check, for the update helper, on a stop request) reports it
// first, so the flag that would also count a non-zero exit code stays off.
Status SetFailureActions(SC_HANDLE service) {
  SC_ACTION actions[] = {{SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_NONE, 0}};
  SERVICE_FAILURE_ACTIONSA failure{};
  failure.dwResetPeriod = 86400;
  failure.cActions = sizeof(actions) / sizeof(actions[0]);
  failure.lpsaActions = actions;
  if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
    return Status::Failure(LastErrorText());
  }
  return Status();
}

}  // namespace

Status Win32Host::RegisterService() {
  const std::string exe = OwnPath();
  if (exe.empty()) return Status::Failure(LastErrorText());
  ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (!scm.get()) return Status::Failure(LastErrorText());
  DWORD type = SERVICE_WIN32_OWN_PROCESS;
  if (interactive_) type |= SERVICE_INTERACTIVE_PROCESS;
  // Quoted, so that a folder name with blanks cannot be read as a shorter
  // program path.
  const std::string binary = "\"" + exe + "\"";
  ScHandle service(CreateServiceA(scm.get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS, type, start_type_,
                                  SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service.get()) return Status::Failure(LastErrorText());
  Status done = SetFailureActions(service.get());
  if (done) done = RegisterEventSourceKey(exe);
  if (!done) {
    // Half an installation would be reported as none.
    DeleteService(service.get());
  }
  return done;
}

// A running service is stopped first, so that its program does not go on
// deciding and mailing without a service behind it, and its file can be
// removed.
Status Win32Host::UnregisterService() {
  {
    ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm.get()) return Status::Failure(LastErrorText());
    ScHandle service(OpenServiceA(scm.get(), kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service.get()) return Status::Failure(LastErrorText());
    SERVICE_STATUS status{};
    if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
      ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
      for (DWORD waited = 0; waited < kUninstallStopWaitMs && status.dwCurrentState != SERVICE_STOPPED; waited += 500) {
        ::Sleep(500);
        if (!QueryServiceStatus(service.get(), &status)) break;
      }
    }
    if (!DeleteService(service.get())) return Status::Failure(LastErrorText());
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEventSourceKey);
  return Status();
}

void Win32Host::ConnectServiceManager() {
  // In debug mode the program runs by itself, as it does when started by
  // hand: then the dispatcher finds no service manager and its thread ends.
  if (debug_mode_ || connect_tried_) return;
  connect_tried_ = true;
  g_service_host = this;
  // The thread runs by itself; its handle is not kept.
  const UniqueHandle thread(CreateThread(nullptr, 0, &Win32Host::DispatcherThread, this, 0, nullptr));
}

DWORD WINAPI Win32Host::DispatcherThread(LPVOID) {
  SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(kServiceName), &Win32Host::ServiceMain}, {nullptr, nullptr}};
  StartServiceCtrlDispatcherA(table);
  return 0;
}

void WINAPI Win32Host::ServiceMain(DWORD, LPSTR*) {
  Win32Host* self = g_service_host;
  SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExA(kServiceName, &Win32Host::ControlHandler, self);
  if (!handle) return;
  self->status_handle_ = handle;
  self->SetStatus(SERVICE_START_PENDING, NO_ERROR, kStartWaitHintMs);
  PostMessageA(self->window_, kServiceStartMessage, 0, 0);
  // The service lives as long as the process; the program ends the process
  // after it has reported the service stopped.
  for (;;) ::Sleep(INFINITE);
}

DWORD WINAPI Win32Host::ControlHandler(DWORD control, DWORD type, LPVOID, LPVOID context) {
  auto* self = static_cast<Win32Host*>(context);
  switch (control) {
    case SERVICE_CONTROL_POWEREVENT:
      // Resume from sleep or hibernation; a Fast Startup "boot" resumes the
      // service the same way.
      if (type == PBT_APMRESUMEAUTOMATIC || type == PBT_APMRESUMESUSPEND) {
        PostMessageA(self->window_, kPowerResumeMessage, 0, 0);
      }
      return NO_ERROR;
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      self->SetStatus(SERVICE_STOP_PENDING, NO_ERROR, kStopWaitHintMs);
      PostMessageA(self->window_, kServiceStopMessage, 0, 0);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void Win32Host::OnServiceStart() {
  bool success = false;
  if (sink_) sink_->OnServiceStartRequested(success);
  if (success) {
    SetStatus(SERVICE_RUNNING, NO_ERROR, 0);
    running_ = true;
  } else {
    SetStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 0);
  }
}

DWORD Win32Host::ServiceControlsAccepted() const {
  // The program asks for stop requests; the system's shutdown notice is
  // taken as one too.
  return accepted_controls_ != 0 ? accepted_controls_ | SERVICE_ACCEPT_SHUTDOWN : 0;
}

void Win32Host::SetAcceptedControls(ServiceControls controls) {
  accepted_controls_ = SERVICE_ACCEPT_STOP;
  if (controls == ServiceControls::StopAndPowerEvents) accepted_controls_ |= SERVICE_ACCEPT_POWEREVENT;
  // A running service tells the service manager at once.
  if (running_) SetStatus(SERVICE_RUNNING, NO_ERROR, 0);
}

// WTSSendMessage shows a box on the desktop of another session, which a
// service cannot do with a window of its own; it works on every edition,
// unlike msg.exe. Not waiting for an answer, each box closes at the halt.
Result<int> Win32Host::ShowSessionMessage(const std::string& title, const std::string& text, uint32_t timeout_s) {
  WTS_SESSION_INFOA* sessions = nullptr;
  DWORD count = 0;
  if (!WTSEnumerateSessionsA(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
    return Result<int>::Failure("the sessions could not be listed (" + LastErrorText() + ")");
  }
  int shown = 0;
  std::string failure;
  for (DWORD i = 0; i < count; ++i) {
    if (sessions[i].State != WTSActive) continue;
    DWORD response = 0;
    if (WTSSendMessageA(WTS_CURRENT_SERVER_HANDLE, sessions[i].SessionId, const_cast<char*>(title.c_str()),
                        static_cast<DWORD>(title.size()), const_cast<char*>(text.c_str()),
                        static_cast<DWORD>(text.size()), MB_OK | MB_ICONWARNING | MB_SETFOREGROUND, timeout_s,
                        &response, FALSE)) {
      ++shown;
    } else {
      failure = "session " + std::to_string(sessions[i].SessionId) + " refused it (" + LastErrorText() + ")";
    }
  }
  WTSFreeMemory(sessions);
  if (shown == 0 && !failure.empty()) return Result<int>::Failure(failure);
  return shown;
}

void Win32Host::SetStatus(DWORD state, DWORD exit_code, DWORD wait_hint) {
  SERVICE_STATUS_HANDLE handle = status_handle_.load();
  if (!handle) return;
  EnterCriticalSection(&status_lock_);
  // Once stopped, the service manager hears nothing more from us.
  if (reported_state_ != SERVICE_STOPPED) {
    static DWORD checkpoint = 0;
    SERVICE_STATUS s{};
    s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.dwCurrentState = state;
    s.dwControlsAccepted = state == SERVICE_RUNNING ? ServiceControlsAccepted() : 0;
    s.dwWin32ExitCode = exit_code;
    s.dwServiceSpecificExitCode = exit_code == ERROR_SERVICE_SPECIFIC_ERROR ? 1 : 0;
    s.dwCheckPoint = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ? ++checkpoint : 0;
    s.dwWaitHint = wait_hint;
    SetServiceStatus(handle, &s);
    reported_state_ = state;
  }
  LeaveCriticalSection(&status_lock_);
}

void Win32Host::ReportServiceStopped() { SetStatus(SERVICE_STOPPED, NO_ERROR, 0); }

void Win32Host::LogEvent(EventType type, EventId id, const std::string& text) {
  if (!event_source_) event_source_.reset(RegisterEventSourceA(nullptr, kEventSource));
  if (!event_source_) return;
  const WORD kind = type == EventType::Error     ? EVENTLOG_ERROR_TYPE
                    : type == EventType::Warning ? EVENTLOG_WARNING_TYPE
                                                 : EVENTLOG_INFORMATION_TYPE;
  const char* strings[1] = {text.c_str()};
  ReportEventA(event_source_.get(), kind, 0, static_cast<DWORD>(id), nullptr, 1, 0, strings, nullptr);
}

}  // namespace kalmora::win32
