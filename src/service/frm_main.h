// frmMain: the main program's one object. It holds the run's shared state,
// the two timers (on the host's event loop) and the six holiday tables, and
// carries the routines of start-up, the daily check, the countdown, the
// scheduled shutdown, the notices and the online update.
#pragma once

#include <string>

#include "config/config.h"
#include "host/host.h"

namespace kalmora {

class frmMain : public EventSink {
 public:
  explicit frmMain(Host& host);

  // The whole start-up: working directory, command line, service start,
  // waits, configuration, online update, daily check. Also re-run by the
  // countdown tick just after midnight.
  void RunStartup();

  // EventSink: delivered by the host on the program's one thread.
  void OnServiceStartRequested(bool& success) override;
  void OnServiceStopRequested() override;
  void OnTimer(TimerId id) override;

  // Read-only views for tests and tools.
  const Configuration& config() const { return cfg_; }
  const HolidayTables& tables() const { return tables_; }
  float TimeToShutdown() const { return TimeToShutdown_; }
  bool DoShutdown() const { return DoShutdown_; }
  bool DoScheduledShutdown() const { return DoScheduledShutdown_; }
  bool IsHoliday() const { return IsHoliday_; }
  bool IsMsgHoliday() const { return IsMsgHoliday_; }
  bool IsWeekend() const { return IsWeekend_; }
  bool TooLate() const { return TooLate_; }
  bool RunningAsService() const { return RunningAsService_; }
  bool ScheduleWarningSent() const { return ScheduleWarningSent_; }
  const std::string& CurrHoliday() const { return CurrHoliday_; }
  const std::string& GlobalIniVersion() const { return GlobalIniVersion_; }
  int configuration_reads() const { return configuration_reads_; }

  // The routines, public so that tests can drive one piece at a time.
  int ReadConfiguration();
  void OnlineUpdate();
  void DailyCheck();
  void CountdownTick();
  void SendEmail(const std::string& address, const std::string& subject, const std::string& body);
  void SendNetMessage(const std::string& address, const std::string& text);
  void SendScheduledShutdownWarning();

  std::string VersionText();

 private:
  [[noreturn]] void HaltSystem();
  void ScheduledShutdownDecision();
  void BeepPattern();
  // Processes pending events and sleeps `step_ms` until `total_ms` of elapsed
  // time have passed since the call; elapsed time, so midnight is harmless.
  void PauseProcessingEvents(int64_t total_ms, uint32_t step_ms);

  // Online update pieces.
  bool AcceptDownloadedConfiguration(const std::string& pinned_sha, std::string& why);
  bool AcceptDownloadedProgram(const std::string& offered_version, const std::string& pinned_sha, std::string& why);
  void SwapVersionIndex();

  Host& host_;

  // Configuration values as read, and the holiday tables.
  Configuration cfg_;
  HolidayTables tables_;
  std::string IniPath_;

  // Decision state.
  float TimeToShutdown_ = 0;
  bool DoShutdown_ = false;
  bool DoScheduledShutdown_ = false;
  bool TooLate_ = false;
  bool IsHoliday_ = false;
  bool IsMsgHoliday_ = false;
  bool IsWeekend_ = false;
  bool RunningAsService_ = false;
  bool ScheduleWarningSent_ = false;
  std::string CurrHoliday_;
  std::string GlobalIniVersion_;

  int configuration_reads_ = 0;
};

// Runs Kalmora on a host: start-up, then the event loop until it ends.
[[noreturn]] void RunKalmora(Host& host);

}  // namespace kalmora
