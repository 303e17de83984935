// What the service decided today and what has become of it since: run-time
// state, kept apart from the settings, which never change while it runs.
#pragma once

#include <optional>
#include <string>

#include "config/rules.h"

namespace kalmora {

struct DayState {
  // Cleared before each decision.
  float TimeToShutdown = 0;  // the halt's moment in seconds since midnight; 0: none armed
  bool DoShutdown = false;
  bool DoScheduledShutdown = false;
  bool TooLate = false;
  bool IsHoliday = false;
  bool IsMsgHoliday = false;
  bool IsWeekend = false;
  // Today's holiday name, for %HLDY% and the notice's subject.
  std::string CurrHoliday;
  // The scheduled time armed today, as written: the warning's %TIME%.
  std::string ScheduledTimeToday;

  // Kept across decisions: the date of the last one, the warning of its
  // scheduled halt, the moment of the last tick (or of the arming), and a
  // resume the next tick is to act on.
  std::optional<CivilDate> DecidedOn;
  bool ScheduleWarningSent = false;
  float LastTickAt = 0;
  bool Resumed = false;

  void ClearDecision() {
    TimeToShutdown = 0;
    DoShutdown = DoScheduledShutdown = TooLate = IsHoliday = IsMsgHoliday = IsWeekend = false;
  }
};

// A whole day on the clock of TimeToShutdown.
inline constexpr float kDaySeconds = 86400.0f;

}  // namespace kalmora
