#include "service/desk.h"

#include <algorithm>
#include <cstdio>

#include "notify/desk_command.h"
#include "notify/entries.h"

namespace kalmora {

namespace {
// How long the service waits for every session's answer to "how long since
// the last input?"; a session that does not answer counts as idle.
constexpr int64_t kIdleAnswerMs = 5000;
constexpr uint32_t kAnswerCycleMs = 100;
// A halt that waits for people at work is tried again this often.
constexpr float kIdleRetrySeconds = 60;
// A session that pressed OK sees its window again this long before the halt.
constexpr float kLastMinute = 60;
// Windows that end without an answer come back this many times in all.
constexpr int kMostUnanswered = 3;

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
  if (s.IdleMinutes > 0 || !s.WhileRunning.empty() || s.WhileUpdating) moment = kDaySeconds;
  if (s.LatestShutdown.moment) moment = std::min<double>(moment, std::max(*s.LatestShutdown.moment, due));
  return moment;
}

namespace {

std::string SessionName(const DeskSession& s) {
  return "session " + std::to_string(s.id) + (s.user.empty() ? "" : " (user " + s.user + ")");
}

}  // namespace

void Desk::Open(const std::string& reason, DeskAction action) {
  if (!settings().CountdownWindow || !day_.DoShutdown) return;
  reason_ = reason;
  action_ = action;
  if (due_at_ == 0) due_at_ = day_.TimeToShutdown;
  StartWindows();
}

// A session that pressed OK sees the window again for the halt's last
// minute; one whose windows kept ending without an answer does not.
bool Desk::WantsWindow(uint32_t session, float now, float due) const {
  for (const Dismissal& d : dismissed_) {
    if (d.session != session) continue;
    return !d.for_good && !waiting_for_ && now >= due - kLastMinute && d.at < due - kLastMinute && now < due;
  }
  return true;
}

// A window in every active session that has none and wants one; a session
// that logged on since gets its own.
void Desk::StartWindows() {
  auto sessions = host_.ActiveSessions();
  if (!sessions) return;
  const float now = host_.SecondsSinceMidnight();
  const float due = day_.TimeToShutdown;
  DeskCountdown c;
  c.reason = reason_;
  c.action = action_;
  const auto& latest = settings().LatestShutdown;
  if (waiting_for_) {
    c.halt_at = ClockText(due_at_);
    c.waits = waiting_for_->kind;
    c.program = waiting_for_->program;
  } else {
    c.halt_at = ClockText(due);
    c.seconds_left = due > now ? static_cast<uint32_t>(due - now) : 0;
    if (CanPostpone(settings(), postpones_, due))
      c.postpone_minutes = static_cast<uint32_t>(settings().PostponeMinutes);
  }
  // A latest time before the halt's own moment moves nothing, and would
  // read as a contradiction ("at 20:00, at the latest 19:30").
  if (latest.moment && (waiting_for_ || *latest.moment > due)) c.latest = latest.text;
  const std::string args = DeskCommandLine(c);
  for (const DeskSession& s : *sessions) {
    const auto same = [&](const Window& w) { return w.session.id == s.id; };
    if (std::any_of(windows_.begin(), windows_.end(), same) || !WantsWindow(s.id, now, due)) continue;
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
    Answered(w, *status, postponing);
  }
  // Clicks in several sessions at once: the first moves the halt, the
  // others find the postpones used up.
  for (const DeskSession& s : postponing) Postpone(s);
  StartWindows();
}

// OK keeps the session's window closed (but for the last minute); a window
// that ended without an answer (ended from Task Manager, crashed, or never
// shown) comes back at once, a few times.
void Desk::Answered(const Window& w, uint32_t status, std::vector<DeskSession>& postponing) {
  const auto drop = [&](bool for_good) {
    std::erase_if(dismissed_, [&](const Dismissal& d) { return d.session == w.session.id; });
    dismissed_.push_back({w.session.id, host_.SecondsSinceMidnight(), for_good});
  };
  if (status == kDeskPostpone) {
    postponing.push_back(w.session);
    return;
  }
  if (status == kDeskOk) {
    drop(false);
    return;
  }
  auto it =
      std::find_if(unanswered_.begin(), unanswered_.end(), [&](const auto& u) { return u.first == w.session.id; });
  if (it == unanswered_.end()) it = unanswered_.insert(unanswered_.end(), {w.session.id, 0});
  const bool again = ++it->second < kMostUnanswered;
  char code[16];
  std::snprintf(code, sizeof code, "0x%X", status);
  host_.LogEvent(EventType::Information, EventId::Report,
                 "Kalmora: The countdown window in " + SessionName(w.session) + " ended without an answer (status " +
                     code + "); " + (again ? "it is shown again." : "it is not shown again today."));
  if (!again) drop(true);
}

// Every window then shows the new moment. The notices by mail and NET SEND
// are not sent again.
void Desk::Postpone(const DeskSession& from) {
  const std::string due = ClockText(day_.TimeToShutdown);
  if (!CanPostpone(settings(), postpones_, day_.TimeToShutdown)) {
    host_.LogEvent(EventType::Information, EventId::Report,
                   EntryText(Entry::PostponeRefused, {due, SessionName(from)}));
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
                 EntryText(Entry::Postponed, {due, how, ClockText(moment), SessionName(from)}));
  Close();
  std::erase_if(dismissed_, [](const Dismissal& d) { return !d.for_good; });
}

void Desk::Close() {
  for (const Window& w : windows_) host_.ReleaseChild(w.child, true);
  windows_.clear();
}

void Desk::Forget() {
  Close();
  reason_.clear();
  dismissed_.clear();
  unanswered_.clear();
  postpones_ = 0;
  due_at_ = 0;
  waiting_for_.reset();
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

// Someone with input within IdleMinutes, when IdleMinutes is set.
std::optional<Hold> Desk::WorkAtDesk() {
  const int idle_minutes = settings().IdleMinutes;
  if (idle_minutes <= 0) return std::nullopt;
  auto sessions = host_.ActiveSessions();
  if (!sessions || sessions->empty()) return std::nullopt;
  const auto busiest = BusiestSession(*sessions, idle_minutes);
  if (!busiest) return std::nullopt;
  const uint32_t ago = busiest->second;
  return Hold{DeskWait::Desk, "", 0,
              SessionName(busiest->first) + " had input " +
                  (ago < 60 ? "just now" : std::to_string(ago / 60) + " minutes ago")};
}

// While a hold or someone at work keeps the halt, it waits a minute and
// asks again, the holds first. At LatestShutdown it goes ahead whatever the
// answers; without one, a wait that reaches midnight gives the halt up. One
// entry when the wait begins or its reason changes, one when it ends.
bool Desk::HoldHalt() {
  const auto& latest = settings().LatestShutdown.moment;
  const float now = host_.SecondsSinceMidnight();
  const std::string due = ClockText(due_at_ ? due_at_ : day_.TimeToShutdown);
  if (latest && now >= *latest) {
    if (waiting_for_ || postpones_ > 0) {
      host_.LogEvent(EventType::Information, EventId::Report,
                     EntryText(Entry::WentAheadAtLatest, {due, settings().LatestShutdown.text}));
    }
    return false;
  }
  std::optional<Hold> hold = holds_.Holding();
  if (!hold) hold = WorkAtDesk();
  if (!hold) {
    if (waiting_for_) {
      const Hold& was = *waiting_for_;
      host_.LogEvent(EventType::Information, EventId::Report,
                     EntryText(Entry::GoesAhead, {due}) +
                         (was.kind == DeskWait::Desk ? "every session has been idle for " +
                                                           std::to_string(settings().IdleMinutes) + " minutes."
                          : was.kind == DeskWait::Updates
                              ? std::string("Windows has finished installing updates.")
                              : was.program + " (process " + std::to_string(was.pid) + ") has ended."));
    }
    return false;
  }
  float next = now + kIdleRetrySeconds;
  if (!latest && next >= kDaySeconds) {
    host_.LogEvent(EventType::Information, EventId::Report, EntryText(Entry::GivenUp, {due, hold->what}));
    Close();
    reason_.clear();
    waiting_for_.reset();
    day_.DoShutdown = false;
    day_.TimeToShutdown = 0;
    return true;
  }
  if (latest) next = std::min(next, *latest);
  if (!waiting_for_ || !waiting_for_->Same(*hold)) Wait(*hold, due);
  day_.TimeToShutdown = next;
  return true;
}

// The windows now say what the halt waits for and until when at the latest,
// instead of counting down to a moment that keeps moving.
void Desk::Wait(const Hold& hold, const std::string& due) {
  if (due_at_ == 0) due_at_ = day_.TimeToShutdown;
  host_.LogEvent(EventType::Information, EventId::Report, EntryText(Entry::Waits, {due, hold.what}));
  const bool shown_before = waiting_for_.has_value();
  waiting_for_ = hold;
  Close();
  if (!shown_before) std::erase_if(dismissed_, [](const Dismissal& d) { return !d.for_good; });
  if (!reason_.empty()) StartWindows();
}

}  // namespace kalmora
