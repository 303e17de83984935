// One program's host inside a simulated World.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>

#include "host/host.h"
#include "host/sim/sim_world.h"

namespace kalmora::sim {

class SimHost : public Host {
 public:
  SimHost(World& world, std::string program, std::string args, bool started_by_service_manager);

  LocalTime Now() override;
  float SecondsSinceMidnight() override;
  int64_t ElapsedMs() override;

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
  bool StartProcess(const std::string& command_line) override;
  ProgramVersion Version() override { return version_; }

  void SetInteractiveDesktop(bool on) override;
  void SetStartType(int32_t type) override;
  bool RegisterService() override;
  bool UnregisterService() override;
  void SetDebugMode(bool on) override;
  void SetAcceptedControls(int32_t controls) override;
  void ConnectServiceManager() override;
  bool IsServiceRunning() override { return running_; }
  void ReportServiceStopped() override;
  void LogEvent(int16_t type, int32_t id, const std::string& text) override;

  bool DeleteFile(const std::string& name) override;
  bool ReplaceFile(const std::string& from, const std::string& to) override;
  bool FileExists(const std::string& name) override;
  std::optional<std::string> ReadFile(const std::string& name) override;
  bool WriteFile(const std::string& name, const std::string& bytes) override;
  std::optional<std::string> Sha256OfFile(const std::string& name) override;
  std::string GetProfileString(const std::string& section, const std::string& key, const std::string& default_value,
                               const std::string& path, size_t buffer_size) override;

  void Beep(uint32_t hz, uint32_t ms) override;
  void EnableShutdownPrivilege() override {}
  void ExitWindowsEx(uint32_t flags, uint32_t reason) override;

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
  // The earliest moment at which something is due, if anything.
  std::optional<LocalMs> NextDue() const;
  bool DeliverOne();
  void RunCurl(const std::string& command_line);
  bool FileExistsQuiet(const std::string& name);
  bool IsLocked(const std::string& name) const;

  World& world_;
  std::string program_;
  std::string args_;
  bool started_by_scm_;
  std::string cwd_;
  ProgramVersion version_;
  EventSink* sink_ = nullptr;
  std::array<Timer, 3> timers_{};
  bool debug_mode_ = false;
  bool connected_ = false;
  bool start_pending_ = false;
  bool running_ = false;
  bool stop_delivered_ = false;
  std::map<std::string, std::optional<LocalMs>> locked_;
};

}  // namespace kalmora::sim
