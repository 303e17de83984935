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
#include "service/holds.h"

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
  Desk(Host& host, Waits& waits, const ConfigReadResult& config, DayState& day, Holds& holds)
      : host_(host), waits_(waits), config_(config), day_(day), holds_(holds) {}

  // From the notice on (a holiday or weekend) or from the warning on (a
  // scheduled shutdown), while the halt is armed; the windows name `action`.
  void Open(const std::string& reason, DeskAction action);
  // Each tick: the answers of the windows that were closed, and windows for
  // sessions that came since.
  void Tend();
  void Close();
  // A new decision: yesterday's windows, postpones and waits are gone.
  void Forget();
  // At the halt's moment: true when it does not happen now, because a hold
  // ([Holds]) or someone at work (IdleMinutes) keeps it and LatestShutdown
  // has not come.
  bool HoldHalt();
  // Inside the wait for the desk programs' answers: ticks do nothing.
  bool busy() const { return busy_; }

 private:
  struct Window {
    DeskSession session;
    ChildProcess child;
  };
  struct Dismissal {
    uint32_t session = 0;
    float at = 0;           // when OK was pressed
    bool for_good = false;  // the window kept ending without an answer
  };
  const Settings& settings() const { return *config_.values; }
  void StartWindows();
  bool WantsWindow(uint32_t session, float now, float due) const;
  void Answered(const Window& w, uint32_t status, std::vector<DeskSession>& postponing);
  void Postpone(const DeskSession& from);
  std::optional<std::pair<DeskSession, uint32_t>> BusiestSession(const std::vector<DeskSession>& sessions,
                                                                 int idle_minutes);
  std::optional<Hold> WorkAtDesk();
  void Wait(const Hold& hold, const std::string& due);

  Host& host_;
  Waits& waits_;
  const ConfigReadResult& config_;
  DayState& day_;
  Holds& holds_;
  // What the windows say (empty: no windows wanted), one per session;
  // sessions that pressed OK keep theirs closed until the halt moves, but
  // for its last minute.
  std::string reason_;
  DeskAction action_ = DeskAction::Shutdown;
  std::vector<Window> windows_;
  std::vector<Dismissal> dismissed_;
  std::vector<std::pair<uint32_t, int>> unanswered_;  // session, windows that ended without an answer
  int postpones_ = 0;
  float due_at_ = 0;                 // the halt's moment before any postpone or wait
  std::optional<Hold> waiting_for_;  // what the halt waits for now
  bool busy_ = false;
};

}  // namespace kalmora
