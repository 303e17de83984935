#include <cstdio>

#include "config/numbers.h"
#include "service/frm_main.h"
#include "service/rules.h"

namespace kalmora {

namespace {
constexpr uint32_t kTickMs = 10000;
// Ticks come every ten seconds; one that comes more than a minute late
// means the host was asleep, not busy.
constexpr float kAsleepGapSeconds = 70.0f;
constexpr uint32_t kAfterMidnightMs = 1000;
constexpr uint32_t kResumeTickMs = 1000;

}  // namespace

uint32_t frmMain::SecondsUntil(float moment) {
  const float left = moment - host_.SecondsSinceMidnight();
  return left > 1 ? static_cast<uint32_t>(left) : 1;
}

void frmMain::CountdownTick() {
  // Ticks that come while the desk programs are asked do nothing.
  if (desk_busy_) return;
  // A new day is decided afresh, whether the clock just passed midnight or
  // the host slept across it: yesterday's countdown never carries into today.
  if (DateChangedSinceDecision()) {
    NewDay();
    return;
  }
  if (Resumed_) {
    Resumed_ = false;
    ResumeAfterSleep();
    return;
  }
  // A halt that came due while the host slept would otherwise take it down
  // the moment it wakes, with whatever the person who woke it has open.
  const float now_s = host_.SecondsSinceMidnight();
  if (HaltPassed(now_s) && now_s - LastTickAt_ > kAsleepGapSeconds) {
    RearmAfterSleep(TimeToShutdown_);
    return;
  }
  LastTickAt_ = now_s;
  TendDeskWindows();

  // 1. The scheduled-shutdown watch. The flag goes up before the warning is
  // sent: a tick that runs during the warning's mail pause must not send it
  // again.
  if (DoScheduledShutdown_ && !ScheduleWarningSent_) {
    const float now = host_.SecondsSinceMidnight();
    const float remaining = TimeToShutdown_ - now;
    if (now < TimeToShutdown_ && ParseNumber(cfg_.ScheduledShutdownDelay).value_or(kDefaultWarningDelay) >= remaining) {
      ScheduleWarningSent_ = true;
      SendScheduledShutdownWarning(ScheduledTimeToday_);
    }
  }

  // 2. The halt test. A countdown that aimed past midnight never reaches its
  // moment; the first tick of the new day decides afresh (above).
  if (host_.SecondsSinceMidnight() >= TimeToShutdown_) {
    host_.EnableTimer(TimerId::Delay, false);
    if (!DoShutdown_) {
      if (IsOn(cfg_.DecideDaily)) ArmMidnightWake();
      return;
    }
    // Someone at work, with IdleMinutes set: the halt waits (or is given
    // up at midnight), and the countdown goes on.
    if (HoldHalt()) {
      host_.EnableTimer(TimerId::Delay, true);
      return;
    }
    CloseDeskWindows();
    HaltSystem();
  }
}

bool frmMain::DateChangedSinceDecision() {
  if (!DecidedOn_) return false;
  const LocalTime now = host_.Now();
  return CivilDate{now.year, now.month, now.day} != *DecidedOn_;
}

void frmMain::NewDay() {
  Resumed_ = false;
  RunStartup();
}

bool frmMain::HaltPassed(float now_s) const {
  return DoShutdown_ && now_s >= TimeToShutdown_ && LastTickAt_ < TimeToShutdown_;
}

// After a resume the whole start-up runs again (the update, the settling
// wait, the check). A scheduled halt that passed while the host slept is not
// armed again by it, so it is re-armed after its warning, as on a host that
// finds out by the gap between two ticks; but only while it is still the day
// the halt was due: a start-up that ran past midnight has decided the new day.
void frmMain::ResumeAfterSleep() {
  const bool passed = HaltPassed(host_.SecondsSinceMidnight());
  const bool scheduled = DoScheduledShutdown_;
  const float missed = TimeToShutdown_;
  const CivilDate before = *DecidedOn_;
  RunStartup();
  if (passed && DecidedOn_ == before && TimeToShutdown_ == 0) {
    DoShutdown_ = true;
    DoScheduledShutdown_ = scheduled;
    RearmAfterSleep(missed);
  }
}

// The notices of the halt go out again with the minutes that now remain,
// and the halt comes after the warning time, counted from now. When that
// moment would fall on the next date, nothing is re-armed: the clock never
// reaches it, the next date is decided afresh at its first tick, and a
// notice would promise a halt that never comes.
void frmMain::RearmAfterSleep(float missed) {
  const float now_s = host_.SecondsSinceMidnight();
  const double warning_time = DoScheduledShutdown_
                                  ? ParseNumber(cfg_.ScheduledShutdownDelay).value_or(kDefaultWarningDelay)
                                  : ParseNumber(cfg_.ShutdownDelay).value_or(kDefaultShutdownDelay);
  LastTickAt_ = now_s;
  if (now_s + warning_time >= kDaySeconds) {
    host_.LogEvent(EventType::Information, EventId::Report,
                   "Kalmora: The shutdown due at " + ClockText(missed) +
                       " came while the host was asleep. The day ends within the warning time, so it is not "
                       "announced again; the next day is decided afresh.");
    DoShutdown_ = false;
    DoScheduledShutdown_ = false;
    TimeToShutdown_ = 0;
    ArmMidnightWake();
    return;
  }
  host_.LogEvent(EventType::Information, EventId::Report,
                 "Kalmora: The shutdown due at " + ClockText(missed) +
                     " came while the host was asleep. It is announced again and follows after the warning time.");
  if (DoScheduledShutdown_) {
    TimeToShutdown_ = static_cast<float>(now_s + warning_time);
    ScheduleWarningSent_ = true;
    SendScheduledShutdownWarning(ClockText(TimeToShutdown_).substr(0, 5));
  } else {
    AnnounceHolidayShutdown();
  }
  host_.SetTimerInterval(TimerId::Delay, kTickMs);
  host_.EnableTimer(TimerId::Delay, true);
}

// Once just after each local midnight: one wake-up a day while nothing is
// armed, instead of a tick every ten seconds.
void frmMain::ArmMidnightWake() {
  const double to_midnight_ms = (86400.0 - host_.SecondsSinceMidnight()) * 1000.0;
  host_.SetTimerInterval(TimerId::Delay, static_cast<uint32_t>(to_midnight_ms) + kAfterMidnightMs);
  host_.EnableTimer(TimerId::Delay, true);
}

void frmMain::OnPowerResume() {
  if (!IsOn(cfg_.DecideDaily) || !DecidedOn_) return;
  // Handled by the next tick, on the event loop, never inside whatever wait
  // the resume arrived in.
  Resumed_ = true;
  host_.SetTimerInterval(TimerId::Delay, kResumeTickMs);
  host_.EnableTimer(TimerId::Delay, true);
}

void frmMain::HaltSystem() {
  host_.LogEvent(EventType::Information, EventId::Report, "Kalmora: The system is going down for system halt NOW!");
  BeepPattern();
  host_.EnableShutdownPrivilege();
  host_.ExitWindowsEx(ShutdownMode::ForcedShutdown);
  host_.ExitProgram(ExitReason::Halt);
}

void frmMain::ScheduledShutdownDecision() {
  // Off for the whole check (also for ending after it) only when no day has
  // a time; a day without one of its own and without the common time arms
  // nothing, but the schedule stays on for the days that have one.
  if (!AnyScheduledTime(cfg_)) cfg_.ScheduledShutdown = "0";
  if (!IsOn(cfg_.ScheduledShutdown)) return;
  const LocalTime now = host_.Now();
  if (!ScheduledOnWeekday(cfg_.ScheduledShutdownDays, now.weekday)) return;
  const std::string& time = ScheduledTimeOf(cfg_, now.weekday);
  auto moment = ScheduledMoment(time);
  if (!moment) return;
  if (TimeToShutdown_ == 0 && host_.SecondsSinceMidnight() < *moment) {
    ScheduledTimeToday_ = time;
    TimeToShutdown_ = *moment;
    DoShutdown_ = true;
    DoScheduledShutdown_ = true;
  }
}

void frmMain::SendScheduledShutdownWarning(const std::string& time_text) {
  BeepPattern();
  std::string log = "Kalmora: A scheduled shutdown will take place in " + cfg_.ScheduledShutdownDelay + " seconds.";
  const bool mail = IsOn(cfg_.MsgOnShutdownEmail);
  const bool net = IsOn(cfg_.MsgOnShutdownNet);
  const std::string minutes =
      std::to_string(MinutesRoundedHalfEven(ParseNumber(cfg_.ScheduledShutdownDelay).value_or(kDefaultWarningDelay)));
  auto fill = [&](const std::string& text) {
    std::string out = ReplaceAll(text, "%MIN%", minutes);
    out = ReplaceAll(out, "%TIME%", time_text);
    out = ReplaceAll(out, "%VER%", VersionText());
    return ReplaceAll(out, "%COMPUTER%", host_.ComputerName());
  };
  std::string warning;
  if (mail || net || IsOn(cfg_.MsgOnShutdownSession)) {
    if (cfg_.ScheduledShutdownMsg.empty()) {
      cfg_.ScheduledShutdownMsg =
          "ATTENTION: The host will shut down in %MIN% minutes (at %TIME%).\\n\\nGenerated by Kalmora %VER%";
    }
    warning = fill(cfg_.ScheduledShutdownMsg);
  }
  if (mail) {
    if (cfg_.ScheduledShutdownSubject.empty()) cfg_.ScheduledShutdownSubject = cfg_.DefaultEmailSubject;
    if (cfg_.ScheduledShutdownSubject.empty()) {
      cfg_.ScheduledShutdownSubject = "Kalmora: Shutdown scheduled at %TIME%";
    }
    const Status sent = SendEmail(cfg_.DefaultEmailAddress, fill(cfg_.ScheduledShutdownSubject), warning);
    NoticeFailed("scheduled-shutdown warning email (at " + time_text + ")", cfg_.DefaultEmailAddress, sent);
    log += NoticeSentence("An email", cfg_.DefaultEmailAddress, sent);
  }
  if (net) {
    const Status sent = SendNetMessage(cfg_.NetAddress, warning);
    NoticeFailed("scheduled-shutdown warning NET SEND message (at " + time_text + ")", cfg_.NetAddress, sent);
    log += NoticeSentence("A NET SEND message", cfg_.NetAddress, sent);
  }
  if (IsOn(cfg_.MsgOnShutdownSession)) {
    log += SessionSentence(
        host_.ShowSessionMessage("Kalmora", ReplaceAll(warning, "\\n", "\r\n"), SecondsUntil(TimeToShutdown_)));
  }
  host_.LogEvent(EventType::Information, EventId::Report, log);
  OpenDeskWindows("Scheduled shutdown");
}

}  // namespace kalmora
