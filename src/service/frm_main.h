// frmMain: the main program's one object, as the start-up creates it and the
// host's events reach it. It owns the run's parts (the day's decision, the
// countdown and the halt, the notices, the desk, the update), the settings
// as last read and the day's state, and runs the start-up itself.
#pragma once

#include "config/config.h"
#include "host/host.h"
#include "host/waits.h"
#include "notify/notices.h"
#include "service/countdown.h"
#include "service/daily_check.h"
#include "service/day_state.h"
#include "service/desk.h"
#include "service/halt.h"
#include "service/holds.h"
#include "update/online_update.h"

namespace kalmora {

class frmMain : public EventSink {
 public:
  explicit frmMain(Host& host);

  // The whole start-up: working directory, command line, service start,
  // waits, configuration, online update, daily check. Also re-run by the
  // countdown tick just after midnight and after a resume.
  void RunStartup();

  // EventSink: delivered by the host on the program's one thread.
  void OnServiceStartRequested(bool& success) override;
  void OnServiceStopRequested() override;
  void OnTimer(TimerId id) override;
  void OnPowerResume() override;

  // The routines, public so that tests and benchmarks can drive one piece
  // at a time.
  int ReadConfiguration();
  void OnlineUpdate();
  void DailyCheck();
  void CountdownTick() { countdown_.CountdownTick(); }

  // The planner's days without an update server: no online update, whatever
  // kalmora.ini says.
  void LeaveOutOnlineUpdate() { online_update_ = false; }

  // Read-only views for tests and tools.
  const Settings& settings() const { return *config_.values; }
  const HolidayTables& tables() const { return *config_.tables; }
  const DayState& day() const { return day_; }
  bool RunningAsService() const { return facts_.RunningAsService; }

 private:
  void ClearDayState();
  void ActOnCommandLine();
  void EnsureOnlyInstance();
  void StartAndSettle();
  void AcceptPowerEvents();
  void LogDailyReport();

  Host& host_;
  Waits waits_;
  ConfigReadResult config_;  // the settings and tables as last read
  DayState day_;
  SenderFacts facts_;  // RunningAsService, GlobalIniVersion
  Notices notices_;
  Holds holds_;
  Desk desk_;
  Halt halt_;
  Decision decision_;
  Countdown countdown_;
  Updater updater_;
  bool power_events_accepted_ = false;
  bool instance_claimed_ = false;  // this process is the host's one Kalmora
  bool online_update_ = true;
};

// Runs Kalmora on a host: start-up, then the event loop until it ends.
// `online_update` false: see LeaveOutOnlineUpdate.
[[noreturn]] void RunKalmora(Host& host, bool online_update = true);

}  // namespace kalmora
