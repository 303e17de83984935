#include "service/halt.h"

#include "notify/entries.h"
#include "service/daily_check.h"

namespace kalmora {

HaltPlan PlanHalt(const Settings& s, const PowerCapabilities& caps, bool updates_pending) {
  HaltPlan p;
  const HaltAction wanted = s.ShutdownAction;
  // Updates waiting for a restart are installed by a shutdown, whatever the
  // host would otherwise do: a host that only ever hibernates never
  // installs them.
  if (s.InstallUpdates && updates_pending) {
    p.action = HaltAction::Shutdown;
    p.install_updates = true;
    return p;
  }
  switch (wanted) {
    case HaltAction::Hibernate:
      p.action = caps.hibernate ? HaltAction::Hibernate : HaltAction::Shutdown;
      if (!caps.hibernate) p.instead = "Hibernation is not available on this host; it shuts down instead.";
      break;
    case HaltAction::Sleep:
      p.action = caps.sleep ? HaltAction::Sleep : HaltAction::Shutdown;
      if (!caps.sleep) p.instead = "Sleep is not available on this host; it shuts down instead.";
      break;
    case HaltAction::Shutdown:
      p.action = HaltAction::Shutdown;
      break;
    default:
      p.action = HaltAction::Forced;
      break;
  }
  return p;
}

std::string ActionWords(const HaltPlan& p) {
  if (p.install_updates) return "installs updates and shuts down";
  if (p.action == HaltAction::Hibernate) return "goes into hibernation; open programs stay as they are";
  if (p.action == HaltAction::Sleep) return "goes to sleep";
  return "shuts down";
}

DeskAction DeskActionOf(const HaltPlan& p) {
  if (p.install_updates) return DeskAction::InstallUpdates;
  if (p.action == HaltAction::Hibernate) return DeskAction::Hibernate;
  if (p.action == HaltAction::Sleep) return DeskAction::Sleep;
  return DeskAction::Shutdown;
}

uint32_t ShutdownFlags(const HaltPlan& p) {
  return kShutdownPowerOff | kShutdownForceOthers | kShutdownForceSelf |
         (p.install_updates ? kShutdownInstallUpdates : 0u);
}

std::string ShutdownComment(const DayState& day) {
  if (day.DoScheduledShutdown) return "Kalmora: scheduled shutdown";
  if (day.IsHoliday) return "Kalmora: holiday '" + day.CurrHoliday + "'";
  return "Kalmora: weekend '" + day.CurrHoliday + "'";
}

HaltPlan Halt::Plan() {
  const Settings& s = settings();
  const bool asks_caps = s.ShutdownAction == HaltAction::Hibernate || s.ShutdownAction == HaltAction::Sleep;
  const PowerCapabilities caps = asks_caps ? host_.Capabilities() : PowerCapabilities{};
  return PlanHalt(s, caps, s.InstallUpdates && host_.UpdatesPending());
}

void Halt::ForcedHalt() {
  host_.ExitWindowsEx(ShutdownMode::ForcedShutdown);
  host_.ExitProgram(ExitReason::Halt);
}

void Halt::HaltSystem() {
  const HaltPlan plan = Plan();
  if (!plan.instead.empty()) host_.LogEvent(EventType::Information, EventId::Report, "Kalmora: " + plan.instead);
  host_.LogEvent(EventType::Information, EventId::Report,
                 plan.action == HaltAction::Forced ? EntryText(Entry::HaltForced)
                                                   : EntryText(Entry::HaltNow, {ActionWords(plan)}));
  BeepPattern(host_, settings());
  host_.EnableShutdownPrivilege();
  if (plan.action == HaltAction::Forced) ForcedHalt();
  const bool suspend = plan.action == HaltAction::Hibernate || plan.action == HaltAction::Sleep;
  const Status done = suspend
                          ? host_.SetSuspendState(plan.action == HaltAction::Hibernate)
                          : host_.InitiateShutdown(ShutdownFlags(plan), kShutdownReasonPlanned, ShutdownComment(day_));
  if (done && suspend) return;
  if (done) host_.ExitProgram(ExitReason::Halt);
  // A host never stays up because a newer call is missing or refused.
  host_.LogEvent(EventType::Error, EventId::Failure,
                 EntryText(Entry::HaltCallFailed, {suspend ? "SetSuspendState" : "InitiateShutdownW", done.reason()}));
  ForcedHalt();
}

}  // namespace kalmora
