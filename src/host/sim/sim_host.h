// One program's host inside a simulated World.
#pragma once

#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "config/numbers.h"
#include "host/host.h"
#include "host/signature.h"
#include "host/sim/profile_lookup.h"
#include "host/sim/sim_world.h"

namespace kalmora::sim {

// One URL of a simulated curl run: where it is saved and what the server
// sends.
struct Transfer {
  std::string url, file, path;
  bool reachable = false;
  int http_code = 0;     // the server's answer; 0 without one
  bool refused = false;  // an HTTP error with --fail: nothing is saved
  std::string bytes;
  std::optional<double> cut;  // the fraction after which it breaks off
  std::string written_out;    // what -w writes for it to the standard output
};

// A file's bytes, or nothing when it is not a readable regular file.
std::optional<std::string> ReadWhole(const std::string& path);

class SimHost : public Host {
 public:
  SimHost(World& world, std::string program, std::string args, bool started_by_service_manager);

  LocalTime Now() override;
  float SecondsSinceMidnight() override;
  int64_t ElapsedMs() override;
  // The simulated clock keeps local time only; it is taken for UTC.
  int UtcOffsetMinutes() override { return 0; }

  void SetEventSink(EventSink* sink) override { sink_ = sink; }
  void DoEvents() override;
  void Sleep(uint32_t ms) override;
  void SetTimerInterval(TimerId id, uint32_t ms) override;
  void EnableTimer(TimerId id, bool enabled) override;
  bool TimerEnabled(TimerId id) override;
  void IdleUntilEnd() override;
  void EndProgram(ExitReason reason) override;

  std::string CommandLineArgs() override { return args_; }
  std::string ProgramDirectory() override;
  bool SetCurrentDirectory(const std::string& dir) override;
  void HideWindow() override {}
  void ShowMessage(const std::string& caption, const std::string& text, MsgIcon icon) override;
  Status StartProcess(const std::string& command_line) override;
  Result<ChildProcess> StartChild(const std::string& command_line, const std::string& output) override;
  std::optional<uint32_t> ChildExitStatus(ChildProcess child) override;
  void ReleaseChild(ChildProcess child, bool end_if_running) override;
  Result<std::vector<RunningProgram>> RunningPrograms() override;
  ProgramVersion Version() override { return version_; }
  std::optional<uint32_t> ClaimInstance() override;
  uint32_t pid() const { return pid_; }
  bool connected() const { return connected_; }
  std::string ComputerName() override { return world_.options().computer; }
  // The computer name in lower case in the domain "example": simhost.example.
  std::string DnsHostName() override { return AsciiLower(world_.options().computer) + ".example"; }
  uint32_t AnsiCodePage() override { return 1252; }

  void SetInteractiveDesktop(bool on) override;
  void SetStartType(StartType type) override;
  Status RegisterService() override;
  Status UnregisterService() override;
  void SetDebugMode(bool on) override;
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

  void Beep(uint32_t hz, uint32_t ms) override;
  void EnableShutdownPrivilege() override {}
  void ExitWindowsEx(ShutdownMode mode) override;
  PowerCapabilities Capabilities() override;
  bool UpdatesPending() override;
  Status InitiateShutdown(uint32_t flags, uint32_t reason, const std::string& comment) override;
  Status SetSuspendState(bool hibernate) override;

  // A file the simulated program may not delete or replace (as if another
  // process held it open), for good or until the virtual time `until`; for
  // tests of what happens then.
  void LockFile(const std::string& name, std::optional<LocalMs> until = std::nullopt) { locked_[name] = until; }

 private:
  struct Timer {
    uint32_t interval = 0;
    bool enabled = false;
    LocalMs due = 0;
  };
  void Emit(const std::string& kind, Record fields);
  void CheckUntil(LocalMs t);
  // The clock moves on to `t`, unless the program is killed on the way.
  void MoveClock(LocalMs t);
  // The earliest moment at which something is due, if anything.
  std::optional<LocalMs> NextDue() const;
  bool DeliverOne();
  // Which simulated child program a command line starts ("" for none), and
  // whether it can start.
  std::string ChildName(const std::string& command_line, std::string& rest);
  Status Spawn(const std::string& command_line, std::string& child, std::string& rest);
  SimChild Curl(const std::string& command_line, const std::string& output);
  Transfer PlanTransfer(const std::string& url, bool fail_on_http_error, uint32_t& status);
  SimChild SendBat();
  SimChild SmtpCurl(const std::string& command_line);
  bool FileExistsQuiet(const std::string& name);
  bool IsLocked(const std::string& name) const;

  World& world_;
  std::string program_;
  std::string args_;
  bool started_by_scm_;
  uint32_t pid_;
  std::string cwd_;
  ProgramVersion version_;
  EventSink* sink_ = nullptr;
  std::array<Timer, 3> timers_{};
  bool debug_mode_ = false;
  bool connected_ = false;
  bool start_pending_ = false;
  bool running_ = false;
  bool stop_delivered_ = false;
  bool power_events_ = false;
  std::map<std::string, std::optional<LocalMs>> locked_;
  // The last file the profile lookup read, split into its sections once
  // and made again only when the file's bytes change, as Windows keeps a
  // profile file it has read.
  struct CachedFile {
    std::string path;
    std::filesystem::file_time_type written;
    uintmax_t size = 0;
    std::unique_ptr<ProfileIndex> index;
  };
  CachedFile profile_cache_;
};

}  // namespace kalmora::sim
