// At the desk: a countdown window in every logged-on session while a halt is
// armed, the postpones people ask for there, and a halt that waits while
// someone is working; never past LatestShutdown.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "config/config.h"
#include "host/host.h"
#include "host/waits.h"
#include "service/day_state.h"

namespace kalmora {

// What [Desktop] allows: the one policy the service follows and the plan
// foresees.
// Whether a halt due at `due` may be postponed once more after `used`
// postpones.
bool CanPostpone(const Settings& s, int used, float due);
// Where a postpone clicked at `now` moves the halt: PostponeMinutes on,
// never past LatestShutdown (`to_latest` says when that cut it).
float PostponedMoment(const Settings& s, float now, bool& to_latest);
// The latest a halt due at `due` can come when every postpone is clicked at
// the last moment and people work on; at or past a day's end (kDaySeconds)
// when it may be given up at midnight instead.
double LatestReach(const Settings& s, float due);

class Desk {
 public:
  Desk(Host& host, Waits& waits, const ConfigReadResult& config, DayState& day)
      : host_(host), waits_(waits), config_(config), day_(day) {}

  // From the notice on (a holiday or weekend) or from the warning on (a
  // scheduled shutdown), while the halt is armed.
  void Open(const std::string& reason);
  // Each tick: the answers of the windows that were closed, and windows for
  // sessions that came since.
  void Tend();
  void Close();
  // A new decision: yesterday's windows, postpones and waits are gone.
  void Forget();
  // At the halt's moment: true when it does not happen now, because someone
  // is at work (IdleMinutes) and LatestShutdown has not come.
  bool HoldHalt();
  // Inside the wait for the desk programs' answers: ticks do nothing.
  bool busy() const { return busy_; }

 private:
  struct Window {
    DeskSession session;
    ChildProcess child;
  };
  const Settings& settings() const { return *config_.values; }
  void StartWindows();
  void Postpone(const DeskSession& from);
  std::optional<std::pair<DeskSession, uint32_t>> BusiestSession(const std::vector<DeskSession>& sessions,
                                                                 int idle_minutes);

  Host& host_;
  Waits& waits_;
  const ConfigReadResult& config_;
  DayState& day_;
  // What the windows say (empty: no windows wanted), one per session;
  // sessions that pressed OK keep theirs closed until the halt moves.
  std::string reason_;
  std::vector<Window> windows_;
  std::vector<uint32_t> dismissed_;
  int postpones_ = 0;
  float due_at_ = 0;  // the halt's moment before any postpone or wait
  bool waiting_for_idle_ = false;
  bool busy_ = false;
};

}  // namespace kalmora
