// The countdown and the halt: the tick every ten seconds while a halt is
// armed, the warning before a scheduled halt, a new day after midnight, a
// halt that came due while the host slept, and the halt itself.
#pragma once

#include <functional>

#include "config/config.h"
#include "host/host.h"
#include "service/daily_check.h"
#include "service/day_state.h"
#include "service/desk.h"
#include "service/halt.h"

namespace kalmora {

class Countdown {
 public:
  // `restart` runs the whole start-up again, for a new day or after a resume.
  Countdown(Host& host, const ConfigReadResult& config, DayState& day, Decision& decision, Desk& desk, Halt& halt,
            std::function<void()> restart)
      : host_(host),
        config_(config),
        day_(day),
        decision_(decision),
        desk_(desk),
        halt_(halt),
        restart_(std::move(restart)) {}

  void CountdownTick();
  // The host resumed from sleep; the next tick acts on it.
  void OnPowerResume();

 private:
  const Settings& settings() const { return *config_.values; }
  bool DateChangedSinceDecision();
  bool HaltPassed(float now_s) const;
  void ResumeAfterSleep();
  void RearmAfterSleep(float missed);
  void WatchScheduledShutdown();
  void HaltSystem();

  Host& host_;
  const ConfigReadResult& config_;
  DayState& day_;
  Decision& decision_;
  Desk& desk_;
  Halt& halt_;
  std::function<void()> restart_;
};

}  // namespace kalmora
