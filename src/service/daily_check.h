// The day's decision: the message holidays' mails, a holiday or weekend
// shutdown with its notices, the scheduled shutdown and its warning, and
// whether the program stays after the check.
#pragma once

#include <string>

#include "config/config.h"
#include "host/host.h"
#include "notify/notices.h"
#include "service/day_state.h"
#include "service/desk.h"
#include "service/halt.h"

namespace kalmora {

class Decision {
 public:
  Decision(Host& host, const ConfigReadResult& config, DayState& day, Notices& notices, Desk& desk, Halt& halt)
      : host_(host), config_(config), day_(day), notices_(notices), desk_(desk), halt_(halt) {}

  void DailyCheck();
  // The notices, the log entry and the countdown of a holiday or weekend
  // shutdown, ShutdownDelay seconds from now.
  void AnnounceHolidayShutdown();
  // The warning before the scheduled halt at `time_text` (HH:MM).
  void SendScheduledShutdownWarning(const std::string& time_text);

 private:
  const Settings& settings() const { return *config_.values; }
  void DecideHolidayShutdown(const LocalTime& now);
  void ScheduledShutdownDecision();
  void ArmTimersAndExit();
  std::string ShutdownNotice(double delay, const HaltPlan& plan);
  void NoticeFailed(const std::string& what, const std::string& address, const Status& sent);

  Host& host_;
  const ConfigReadResult& config_;
  DayState& day_;
  Notices& notices_;
  Desk& desk_;
  Halt& halt_;
};

// What event 111 says of the day's decision: "holiday 'Christmas Eve',
// shutdown at 08:03:03", "working day, no halt planned", ...
std::string DailyReportDecision(const DayState& day, const Settings& s);

// Four tones when BeepOnShutdown is on; the thread does nothing else meanwhile.
void BeepPattern(Power& power, const Settings& s);
// Once just after each local midnight: one wake-up a day while nothing is
// armed, instead of a tick every ten seconds.
void ArmMidnightWake(Clock& clock, EventLoop& loop);

}  // namespace kalmora
