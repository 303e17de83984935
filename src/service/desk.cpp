// At the desk: a countdown window in every logged-on session while a halt is
// armed, the postpones people ask for there, and a halt that waits while
// someone is working; never past LatestShutdown.
#include <algorithm>

#include "config/numbers.h"
#include "notify/desk_command.h"
#include "service/frm_main.h"
#include "service/rules.h"

namespace kalmora {

namespace {
// How long the service waits for every session's answer to "how long since
// the last input?"; a session that does not answer counts as idle.
constexpr int64_t kIdleAnswerMs = 5000;
constexpr uint32_t kAnswerCycleMs = 100;
// A halt that waits for people at work is tried again this often.
constexpr float kIdleRetrySeconds = 60;

}  // namespace

std::optional<float> frmMain::LatestMoment() const { return LatestShutdownMoment(cfg_.LatestShutdown); }

std::string frmMain::SessionName(const DeskSession& s) const {
  return "session " + std::to_string(s.id) + (s.user.empty() ? "" : " (user " + s.user + ")");
}

// From the notice on (a holiday or weekend) or from the warning on (a
// scheduled shutdown), while the halt is armed.
void frmMain::OpenDeskWindows(const std::string& reason) {
  if (!IsOn(cfg_.CountdownWindow) || !DoShutdown_) return;
  desk_reason_ = reason;
  if (due_at_ == 0) due_at_ = TimeToShutdown_;
  StartDeskWindows();
}

// A window in every active session that has none and has not dismissed it;
// a session that logged on since gets its own.
void frmMain::StartDeskWindows() {
  if (waiting_for_idle_) return;
  auto sessions = host_.Desks().ActiveSessions();
  if (!sessions) return;
  const float now = host_.SecondsSinceMidnight();
  DeskCountdown c;
  c.reason = desk_reason_;
  c.halt_at = ClockText(TimeToShutdown_);
  c.seconds_left = TimeToShutdown_ > now ? static_cast<uint32_t>(TimeToShutdown_ - now) : 0;
  const int postpone = DesktopCount(cfg_.PostponeMinutes).value_or(0);
  const auto latest = LatestMoment();
  if (postpone > 0 && postpones_ < DesktopCount(cfg_.MaxPostpones).value_or(1) &&
      (!latest || TimeToShutdown_ < *latest)) {
    c.postpone_minutes = static_cast<uint32_t>(postpone);
  }
  if (latest) c.latest = cfg_.LatestShutdown;
  const std::string args = DeskCommandLine(c);
  for (const DeskSession& s : *sessions) {
    const auto same = [&](const auto& w) { return w.session.id == s.id; };
    if (std::any_of(desk_windows_.begin(), desk_windows_.end(), same)) continue;
    if (std::count(desk_dismissed_.begin(), desk_dismissed_.end(), s.id)) continue;
    if (auto child = host_.Desks().StartInSession(s.id, args)) desk_windows_.push_back({s, *child});
  }
}

// Each tick: the answers of the windows that were closed, and windows for
// sessions that came since.
void frmMain::TendDeskWindows() {
  if (desk_reason_.empty() || desk_busy_) return;
  std::vector<DeskSession> postponing;
  for (size_t i = 0; i < desk_windows_.size();) {
    const auto status = host_.ChildExitStatus(desk_windows_[i].child);
    if (!status) {
      ++i;
      continue;
    }
    const DeskWindow w = desk_windows_[i];
    host_.ReleaseChild(w.child, false);
    desk_windows_.erase(desk_windows_.begin() + static_cast<long>(i));
    if (*status == kDeskPostpone) {
      postponing.push_back(w.session);
    } else {
      desk_dismissed_.push_back(w.session.id);
    }
  }
  // Clicks in several sessions at once: the first moves the halt, the
  // others find the postpones used up.
  for (const DeskSession& s : postponing) Postpone(s);
  StartDeskWindows();
}

// The halt moves PostponeMinutes on from the click, never past
// LatestShutdown; every window then shows the new moment. The notices by
// mail and NET SEND are not sent again.
void frmMain::Postpone(const DeskSession& from) {
  const int minutes = DesktopCount(cfg_.PostponeMinutes).value_or(0);
  const auto latest = LatestMoment();
  const std::string due = ClockText(TimeToShutdown_);
  if (minutes <= 0 || postpones_ >= DesktopCount(cfg_.MaxPostpones).value_or(1) ||
      (latest && TimeToShutdown_ >= *latest)) {
    host_.LogEvent(EventType::Information, EventId::Report,
                   "Kalmora: A postpone of the shutdown due at " + due + " from " + SessionName(from) +
                       " was refused: no postpone is left.");
    // Its window comes again, without the button.
    return;
  }
  ++postpones_;
  float moment = host_.SecondsSinceMidnight() + static_cast<float>(minutes) * 60;
  std::string how = "by " + std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
  if (latest && moment > *latest) {
    moment = *latest;
    how = "to LatestShutdown";
  }
  TimeToShutdown_ = moment;
  host_.LogEvent(EventType::Information, EventId::Report,
                 "Kalmora: The shutdown due at " + due + " was postponed " + how + " to " + ClockText(moment) +
                     " from " + SessionName(from) + ".");
  CloseDeskWindows();
  desk_dismissed_.clear();
}

void frmMain::CloseDeskWindows() {
  for (const DeskWindow& w : desk_windows_) host_.ReleaseChild(w.child, true);
  desk_windows_.clear();
}

// At the halt's moment: with IdleMinutes set, every session is asked how long
// it has had no input; while anyone had input within IdleMinutes the halt
// waits a minute and asks again. At LatestShutdown it goes ahead whatever
// the answers; without one, a wait that reaches midnight gives the halt up.
// True when the halt does not happen now.
bool frmMain::HoldHalt() {
  const int idle_minutes = DesktopCount(cfg_.IdleMinutes).value_or(0);
  const auto latest = LatestMoment();
  const float now = host_.SecondsSinceMidnight();
  const std::string due = ClockText(due_at_ ? due_at_ : TimeToShutdown_);
  if (latest && now >= *latest) {
    if (waiting_for_idle_ || postpones_ > 0) {
      host_.LogEvent(
          EventType::Information, EventId::Report,
          "Kalmora: The shutdown due at " + due + " went ahead at LatestShutdown " + cfg_.LatestShutdown + ".");
    }
    return false;
  }
  if (idle_minutes <= 0) return false;
  auto sessions = host_.Desks().ActiveSessions();
  if (!sessions || sessions->empty()) return false;
  // Ask them all at once and wait for the answers; a tick in this wait
  // does nothing.
  desk_busy_ = true;
  std::vector<std::pair<DeskSession, ChildProcess>> asked;
  for (const DeskSession& s : *sessions) {
    if (auto child = host_.Desks().StartInSession(s.id, kDeskIdleCommandLine)) asked.emplace_back(s, *child);
  }
  WaitProcessingEvents(0, kIdleAnswerMs, kAnswerCycleMs, [&] {
    return std::all_of(asked.begin(), asked.end(), [&](const auto& a) { return host_.ChildExitStatus(a.second); });
  });
  std::optional<std::pair<DeskSession, uint32_t>> busiest;
  for (const auto& [s, child] : asked) {
    const auto idle = host_.ChildExitStatus(child);
    host_.ReleaseChild(child, true);
    if (idle && *idle < static_cast<uint32_t>(idle_minutes) * 60 && (!busiest || *idle < busiest->second)) {
      busiest = std::make_pair(s, *idle);
    }
  }
  desk_busy_ = false;
  if (!busiest) {
    if (waiting_for_idle_) {
      host_.LogEvent(EventType::Information, EventId::Report,
                     "Kalmora: The shutdown due at " + due + " goes ahead: every session has been idle for " +
                         std::to_string(idle_minutes) + " minutes.");
    }
    return false;
  }
  const std::string who = SessionName(busiest->first) + " had input " +
                          (busiest->second < 60 ? "just now" : std::to_string(busiest->second / 60) + " minutes ago");
  float next = now + kIdleRetrySeconds;
  if (!latest && next >= kDaySeconds) {
    host_.LogEvent(EventType::Information, EventId::Report,
                   "Kalmora: The shutdown due at " + due + " was given up for today: " + who + ".");
    CloseDeskWindows();
    desk_reason_.clear();
    DoShutdown_ = false;
    TimeToShutdown_ = 0;
    return true;
  }
  if (latest) next = std::min(next, *latest);
  if (!waiting_for_idle_) {
    // The halt now waits for the people at work: their windows have told
    // them, and a window every minute would only be in their way.
    CloseDeskWindows();
    if (due_at_ == 0) due_at_ = TimeToShutdown_;
    host_.LogEvent(EventType::Information, EventId::Report,
                   "Kalmora: The shutdown due at " + due + " waits: " + who + ".");
  }
  waiting_for_idle_ = true;
  TimeToShutdown_ = next;
  return true;
}

}  // namespace kalmora
