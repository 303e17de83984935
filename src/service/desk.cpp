#include "service/desk.h"

#include <algorithm>

#include "notify/desk_command.h"

namespace kalmora {

namespace {
// How long the service waits for every session's answer to "how long since
// the last input?"; a session that does not answer counts as idle.
constexpr int64_t kIdleAnswerMs = 5000;
constexpr uint32_t kAnswerCycleMs = 100;
// A halt that waits for people at work is tried again this often.
constexpr float kIdleRetrySeconds = 60;

}  // namespace

bool CanPostpone(const Settings& s, int used, float due) {
  return s.PostponeMinutes > 0 && used < s.MaxPostpones && (!s.LatestShutdown.moment || due < *s.LatestShutdown.moment);
}

float PostponedMoment(const Settings& s, float now, bool& to_latest) {
  const float moment = now + static_cast<float>(s.PostponeMinutes) * 60;
  to_latest = s.LatestShutdown.moment && moment > *s.LatestShutdown.moment;
  return to_latest ? *s.LatestShutdown.moment : moment;
}

double LatestReach(const Settings& s, float due) {
  const int postpone = s.CountdownWindow ? s.PostponeMinutes : 0;
  const int times = postpone > 0 ? s.MaxPostpones : 0;
  double moment = due + times * postpone * 60.0;
  if (s.IdleMinutes > 0) moment = kDaySeconds;
  if (s.LatestShutdown.moment) moment = std::min<double>(moment, std::max(*s.LatestShutdown.moment, due));
  return moment;
}

namespace {

std::string SessionName(const DeskSession& s) {
  return "session " + std::to_string(s.id) + (s.user.empty() ? "" : " (user " + s.user + ")");
}

}  // namespace

void Desk::Open(const std::string& reason) {
  if (!settings().CountdownWindow || !day_.DoShutdown) return;
  reason_ = reason;
  if (due_at_ == 0) due_at_ = day_.TimeToShutdown;
  StartWindows();
}

// A window in every active session that has none and has not dismissed it;
// a session that logged on since gets its own.
void Desk::StartWindows() {
  if (waiting_for_idle_) return;
  auto sessions = host_.ActiveSessions();
  if (!sessions) return;
  const float now = host_.SecondsSinceMidnight();
  const float due = day_.TimeToShutdown;
  DeskCountdown c;
  c.reason = reason_;
  c.halt_at = ClockText(due);
  c.seconds_left = due > now ? static_cast<uint32_t>(due - now) : 0;
  if (CanPostpone(settings(), postpones_, due)) c.postpone_minutes = static_cast<uint32_t>(settings().PostponeMinutes);
  if (settings().LatestShutdown.moment) c.latest = settings().LatestShutdown.text;
  const std::string args = DeskCommandLine(c);
  for (const DeskSession& s : *sessions) {
    const auto same = [&](const Window& w) { return w.session.id == s.id; };
    if (std::any_of(windows_.begin(), windows_.end(), same)) continue;
    if (std::count(dismissed_.begin(), dismissed_.end(), s.id)) continue;
    if (auto child = host_.StartInSession(s.id, args)) windows_.push_back({s, *child});
  }
}

void Desk::Tend() {
  if (reason_.empty() || busy_) return;
  std::vector<DeskSession> postponing;
  for (size_t i = 0; i < windows_.size();) {
    const auto status = host_.ChildExitStatus(windows_[i].child);
    if (!status) {
      ++i;
      continue;
    }
    const Window w = windows_[i];
    host_.ReleaseChild(w.child, false);
    windows_.erase(windows_.begin() + static_cast<long>(i));
    if (*status == kDeskPostpone) {
      postponing.push_back(w.session);
    } else {
      dismissed_.push_back(w.session.id);
    }
  }
  // Clicks in several sessions at once: the first moves the halt, the
  // others find the postpones used up.
  for (const DeskSession& s : postponing) Postpone(s);
  StartWindows();
}

// Every window then shows the new moment. The notices by mail and NET SEND
// are not sent again.
void Desk::Postpone(const DeskSession& from) {
  const std::string due = ClockText(day_.TimeToShutdown);
  if (!CanPostpone(settings(), postpones_, day_.TimeToShutdown)) {
    host_.LogEvent(EventType::Information, EventId::Report,
                   "Kalmora: A postpone of the shutdown due at " + due + " from " + SessionName(from) +
                       " was refused: no postpone is left.");
    // Its window comes again, without the button.
    return;
  }
  ++postpones_;
  bool to_latest = false;
  const float moment = PostponedMoment(settings(), host_.SecondsSinceMidnight(), to_latest);
  const int minutes = settings().PostponeMinutes;
  const std::string how =
      to_latest ? "to LatestShutdown" : "by " + std::to_string(minutes) + (minutes == 1 ? " minute" : " minutes");
  day_.TimeToShutdown = moment;
  host_.LogEvent(EventType::Information, EventId::Report,
                 "Kalmora: The shutdown due at " + due + " was postponed " + how + " to " + ClockText(moment) +
                     " from " + SessionName(from) + ".");
  Close();
  dismissed_.clear();
}

void Desk::Close() {
  for (const Window& w : windows_) host_.ReleaseChild(w.child, true);
  windows_.clear();
}

void Desk::Forget() {
  Close();
  reason_.clear();
  dismissed_.clear();
  postpones_ = 0;
  due_at_ = 0;
  waiting_for_idle_ = false;
}

// Every session is asked at once how long it has had no input, and the
// answers are awaited (a session that does not answer counts as idle); a
// tick in this wait does nothing. The session with the latest input within
// IdleMinutes, and how long ago that was.
std::optional<std::pair<DeskSession, uint32_t>> Desk::BusiestSession(const std::vector<DeskSession>& sessions,
                                                                     int idle_minutes) {
  busy_ = true;
  std::vector<std::pair<DeskSession, ChildProcess>> asked;
  for (const DeskSession& s : sessions) {
    if (auto child = host_.StartInSession(s.id, kDeskIdleCommandLine)) asked.emplace_back(s, *child);
  }
  waits_.WaitProcessingEvents(0, kIdleAnswerMs, kAnswerCycleMs, [&] {
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
  busy_ = false;
  return busiest;
}

// With IdleMinutes set, while anyone had input within IdleMinutes the halt
// waits a minute and asks again. At LatestShutdown it goes ahead whatever
// the answers; without one, a wait that reaches midnight gives the halt up.
bool Desk::HoldHalt() {
  const int idle_minutes = settings().IdleMinutes;
  const auto& latest = settings().LatestShutdown.moment;
  const float now = host_.SecondsSinceMidnight();
  const std::string due = ClockText(due_at_ ? due_at_ : day_.TimeToShutdown);
  if (latest && now >= *latest) {
    if (waiting_for_idle_ || postpones_ > 0) {
      host_.LogEvent(EventType::Information, EventId::Report,
                     "Kalmora: The shutdown due at " + due + " went ahead at LatestShutdown " +
                         settings().LatestShutdown.text + ".");
    }
    return false;
  }
  if (idle_minutes <= 0) return false;
  auto sessions = host_.ActiveSessions();
  if (!sessions || sessions->empty()) return false;
  const auto busiest = BusiestSession(*sessions, idle_minutes);
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
    Close();
    reason_.clear();
    day_.DoShutdown = false;
    day_.TimeToShutdown = 0;
    return true;
  }
  if (latest) next = std::min(next, *latest);
  if (!waiting_for_idle_) {
    // The halt now waits for the people at work: their windows have told
    // them, and a window every minute would only be in their way.
    Close();
    if (due_at_ == 0) due_at_ = day_.TimeToShutdown;
    host_.LogEvent(EventType::Information, EventId::Report,
                   "Kalmora: The shutdown due at " + due + " waits: " + who + ".");
  }
  waiting_for_idle_ = true;
  day_.TimeToShutdown = next;
  return true;
}

}  // namespace kalmora
