#include "service/countdown.h"

#include "notify/entries.h"

namespace kalmora {

namespace {
// Ticks come every ten seconds; one that comes more than a minute late
// means the host was asleep, not busy.
constexpr float kAsleepGapSeconds = 70.0f;
constexpr uint32_t kResumeTickMs = 1000;
}  // namespace

void Countdown::CountdownTick() {
  // Ticks that come while the desk programs are asked do nothing.
  if (desk_.busy()) return;
  // A new day is decided afresh, whether the clock just passed midnight or
  // the host slept across it: yesterday's countdown never carries into today.
  if (DateChangedSinceDecision()) {
    day_.Resumed = false;
    restart_();
    return;
  }
  if (day_.Resumed) {
    day_.Resumed = false;
    ResumeAfterSleep();
    // Windows' own word of the same resume may arrive during the start-up
    // that decided it afresh.
    day_.Resumed = false;
    return;
  }
  // A halt that came due while the host slept would otherwise take it down
  // the moment it wakes, with whatever the person who woke it has open.
  const float now_s = host_.SecondsSinceMidnight();
  if (HaltPassed(now_s) && now_s - day_.LastTickAt > kAsleepGapSeconds) {
    RearmAfterSleep(day_.TimeToShutdown);
    return;
  }
  day_.LastTickAt = now_s;
  desk_.Tend();
  WatchScheduledShutdown();

  // The halt test. A countdown that aimed past midnight never reaches its
  // moment; the first tick of the new day decides afresh (above).
  if (host_.SecondsSinceMidnight() >= day_.TimeToShutdown) {
    host_.EnableTimer(TimerId::Delay, false);
    if (!day_.DoShutdown) {
      if (settings().DecideDaily) ArmMidnightWake(host_, host_);
      return;
    }
    // Someone at work, with IdleMinutes set: the halt waits (or is given
    // up at midnight), and the countdown goes on.
    if (desk_.HoldHalt()) {
      host_.EnableTimer(TimerId::Delay, true);
      return;
    }
    desk_.Close();
    HaltSystem();
  }
}

// The flag goes up before the warning is sent: a tick that runs during the
// warning's mail pause must not send it again.
void Countdown::WatchScheduledShutdown() {
  if (!day_.DoScheduledShutdown || day_.ScheduleWarningSent) return;
  const float now = host_.SecondsSinceMidnight();
  const float remaining = day_.TimeToShutdown - now;
  if (now < day_.TimeToShutdown && settings().ScheduledShutdownDelay.value() >= remaining) {
    day_.ScheduleWarningSent = true;
    decision_.SendScheduledShutdownWarning(day_.ScheduledTimeToday);
  }
}

bool Countdown::DateChangedSinceDecision() {
  if (!day_.DecidedOn) return false;
  const LocalTime now = host_.Now();
  return CivilDate{now.year, now.month, now.day} != *day_.DecidedOn;
}

bool Countdown::HaltPassed(float now_s) const {
  return day_.DoShutdown && now_s >= day_.TimeToShutdown && day_.LastTickAt < day_.TimeToShutdown;
}

// After a resume the whole start-up runs again (the update, the settling
// wait, the check). A scheduled halt that passed while the host slept is not
// armed again by it, so it is re-armed after its warning, as on a host that
// finds out by the gap between two ticks; but only while it is still the day
// the halt was due: a start-up that ran past midnight has decided the new day.
void Countdown::ResumeAfterSleep() {
  const bool passed = HaltPassed(host_.SecondsSinceMidnight());
  const bool scheduled = day_.DoScheduledShutdown;
  const float missed = day_.TimeToShutdown;
  const CivilDate before = *day_.DecidedOn;
  restart_();
  if (passed && day_.DecidedOn == before && day_.TimeToShutdown == 0) {
    day_.DoShutdown = true;
    day_.DoScheduledShutdown = scheduled;
    RearmAfterSleep(missed);
  }
}

// The notices of the halt go out again with the minutes that now remain,
// and the halt comes after the warning time, counted from now. When that
// moment would fall on the next date, nothing is re-armed: the clock never
// reaches it, the next date is decided afresh at its first tick, and a
// notice would promise a halt that never comes.
void Countdown::RearmAfterSleep(float missed) {
  const float now_s = host_.SecondsSinceMidnight();
  const double warning_time =
      day_.DoScheduledShutdown ? settings().ScheduledShutdownDelay.value() : settings().ShutdownDelay.value();
  day_.LastTickAt = now_s;
  if (now_s + warning_time >= kDaySeconds) {
    host_.LogEvent(EventType::Information, EventId::Report,
                   "Kalmora: The shutdown due at " + ClockText(missed) +
                       " came while the host was asleep. The day ends within the warning time, so it is not "
                       "announced again; the next day is decided afresh.");
    day_.DoShutdown = false;
    day_.DoScheduledShutdown = false;
    day_.TimeToShutdown = 0;
    ArmMidnightWake(host_, host_);
    return;
  }
  host_.LogEvent(EventType::Information, EventId::Report,
                 "Kalmora: The shutdown due at " + ClockText(missed) +
                     " came while the host was asleep. It is announced again and follows after the warning time.");
  if (day_.DoScheduledShutdown) {
    day_.TimeToShutdown = static_cast<float>(now_s + warning_time);
    day_.ScheduleWarningSent = true;
    decision_.SendScheduledShutdownWarning(ClockText(day_.TimeToShutdown).substr(0, 5));
  } else {
    decision_.AnnounceHolidayShutdown();
  }
  host_.SetTimerInterval(TimerId::Delay, kTickMs);
  host_.EnableTimer(TimerId::Delay, true);
}

void Countdown::OnPowerResume() {
  if (!settings().DecideDaily || !day_.DecidedOn) return;
  // Handled by the next tick, on the event loop, never inside whatever wait
  // the resume arrived in.
  day_.Resumed = true;
  host_.SetTimerInterval(TimerId::Delay, kResumeTickMs);
  host_.EnableTimer(TimerId::Delay, true);
}

// A suspend that returns means the host has resumed: that is a new
// decision, as after any sleep, and the day's halt counts as done.
void Countdown::HaltSystem() {
  halt_.HaltSystem();
  host_.LogEvent(EventType::Information, EventId::Report, EntryText(Entry::Resumed));
  day_.ClearDecision();
  desk_.Forget();
  day_.Resumed = true;
  host_.SetTimerInterval(TimerId::Delay, kResumeTickMs);
  host_.EnableTimer(TimerId::Delay, true);
}

}  // namespace kalmora
