// The real Windows host: Kalmora's and Zorvane's seam to Win32.
//
// One thread runs the program. Its event loop is the thread's message queue
// with one hidden window: the timers are SetTimer timers on that window, and
// the service control dispatcher, which runs on a helper thread, posts the
// start and stop requests to it, so that they reach the program only while
// it processes messages, like every other event.
#pragma once

#include <windows.h>
#include <winsvc.h>
#include <wtsapi32.h>

// windows.h names some functions by macro; the host's operations of the same
// names must keep theirs.
#undef DeleteFile
#undef ReplaceFile
#undef SetCurrentDirectory
#undef GetProfileString
#undef StartService
#undef InitiateShutdown

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/signature.h"
#include "host/win32/handles.h"

namespace kalmora::win32 {

// The system's own words for an error code (the thread's last error by
// default), without the line end.
std::string LastErrorText(DWORD error = GetLastError());

class Win32Host : public Host {
 public:
  struct Options {
    // The title of the program's window (the service's and the event
    // source's names live in service_host.cpp).
    const char* window_title = "";
    // A message-only window (Kalmora, which shows nothing) or an ordinary
    // top-level window that stays hidden (Zorvane's form with its label).
    bool top_level_window = false;
  };

  explicit Win32Host(const Options& options);
  ~Win32Host() override;
  Win32Host(const Win32Host&) = delete;
  Win32Host& operator=(const Win32Host&) = delete;

  // The program's window, for child controls such as a label.
  HWND window() const { return window_; }

  LocalTime Now() override;
  float SecondsSinceMidnight() override;
  int64_t ElapsedMs() override;
  int UtcOffsetMinutes() override;

  void SetEventSink(EventSink* sink) override { sink_ = sink; }
  void DoEvents() override;
  void Sleep(uint32_t ms) override;
  void SetTimerInterval(TimerId id, uint32_t ms) override;
  void EnableTimer(TimerId id, bool enabled) override;
  bool TimerEnabled(TimerId id) override;
  void IdleUntilEnd() override;
  void EndProgram(ExitReason reason) override;

  std::string CommandLineArgs() override;
  std::string ProgramDirectory() override;
  bool SetCurrentDirectory(const std::string& dir) override;
  void HideWindow() override;
  void ShowMessage(const std::string& caption, const std::string& text, MsgIcon icon) override;
  Status StartProcess(const std::string& command_line) override;
  Result<ChildProcess> StartChild(const std::string& command_line, const std::string& output) override;
  std::optional<uint32_t> ChildExitStatus(ChildProcess child) override;
  void ReleaseChild(ChildProcess child, bool end_if_running) override;
  ProgramVersion Version() override;
  std::string ComputerName() override;
  std::string DnsHostName() override;
  uint32_t AnsiCodePage() override;
  std::optional<uint32_t> ClaimInstance() override;

  // Service host (service_host.cpp).
  void SetInteractiveDesktop(bool on) override { interactive_ = on; }
  void SetStartType(StartType) override { start_type_ = SERVICE_AUTO_START; }
  Status RegisterService() override;
  Status UnregisterService() override;
  void SetDebugMode(bool on) override { debug_mode_ = on; }
  void SetAcceptedControls(ServiceControls controls) override;
  void ConnectServiceManager() override;
  bool IsServiceRunning() override { return running_; }
  void ReportServiceStopped() override;
  void LogEvent(EventType type, EventId id, const std::string& text) override;
  Result<int> ShowSessionMessage(const std::string& title, const std::string& text, uint32_t timeout_s) override;
  Result<bool> VerifyP256Sha256(std::string_view message, std::string_view public_key,
                                std::string_view signature) override {
    return PlatformSignatureVerifier().VerifyP256Sha256(message, public_key, signature);
  }
  Result<std::optional<RegisteredService>> QueryService(const std::string& name) override;
  Status StartService(const std::string& name) override;
  // The sessions and the desk program (desktops.cpp).
  Result<std::vector<DeskSession>> ActiveSessions() override;
  Result<ChildProcess> StartInSession(uint32_t session, const std::string& args) override;

  Status DeleteFile(const std::string& name) override;
  Status ReplaceFile(const std::string& from, const std::string& to) override;
  bool FileExists(const std::string& name) override;
  std::optional<std::string> ReadFile(const std::string& name) override;
  Status WriteFile(const std::string& name, const std::string& bytes) override;
  std::optional<std::string> Sha256OfFile(const std::string& name) override;
  std::string GetProfileString(const std::string& section, const std::string& key, const std::string& default_value,
                               const std::string& path, size_t buffer_size) override;

  // Power and the halt (power.cpp), and what the halt looks at first.
  void Beep(uint32_t hz, uint32_t ms) override;
  void EnableShutdownPrivilege() override;
  void ExitWindowsEx(ShutdownMode mode) override;
  PowerCapabilities Capabilities() override;
  bool UpdatesPending() override;
  Status InitiateShutdown(uint32_t flags, uint32_t reason, const std::string& comment) override;
  Status SetSuspendState(bool hibernate) override;
  Result<std::vector<RunningProgram>> RunningPrograms() override;

  // The command line after the program's name and the blanks that follow it.
  static std::string ArgumentsOf(const char* command_line);

  // Posted to the window by the service control dispatcher's thread.
  static constexpr UINT kServiceStartMessage = WM_APP + 1;
  static constexpr UINT kServiceStopMessage = WM_APP + 2;
  static constexpr UINT kPowerResumeMessage = WM_APP + 3;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  void Dispatch(MSG& msg);

  // Service side (service_host.cpp).
  static DWORD WINAPI DispatcherThread(LPVOID self);
  static void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
  static DWORD WINAPI ControlHandler(DWORD control, DWORD type, LPVOID data, LPVOID self);
  void OnServiceStart();
  void SetStatus(DWORD state, DWORD exit_code, DWORD wait_hint);
  DWORD ServiceControlsAccepted() const;

  struct Timer {
    uint32_t interval = 0;
    bool enabled = false;
  };

  // Children that are waited for: the process, and the job that holds it
  // with whatever it starts (send.bat's mail program, say), so that ending
  // it ends them all. The job's handle, declared last, is closed first.
  struct Child {
    UniqueHandle process;
    UniqueHandle job;
  };
  // Takes over a child that CreateProcess started suspended: puts it in a
  // job of its own, lets it run and keeps it for the waiting.
  ChildProcess AdoptSuspended(const PROCESS_INFORMATION& pi);
  std::map<uint64_t, Child> children_;
  uint64_t next_child_ = 1;

  HWND window_ = nullptr;
  EventSink* sink_ = nullptr;
  Timer timers_[3];

  // Service state. The status handle is written once by ServiceMain before
  // it posts the start request; the lock keeps status reports from the
  // control handler's thread and the program's thread in order.
  bool interactive_ = false;
  DWORD start_type_ = SERVICE_DEMAND_START;
  bool debug_mode_ = false;
  DWORD accepted_controls_ = 0;
  bool connect_tried_ = false;
  bool running_ = false;
  std::atomic<SERVICE_STATUS_HANDLE> status_handle_{nullptr};
  CRITICAL_SECTION status_lock_;
  DWORD reported_state_ = 0;
  EventSourceHandle event_source_;
  // Held for the life of the host, which is the process's: the claim to be
  // the host's one Kalmora.
  UniqueHandle instance_;
};

}  // namespace kalmora::win32
