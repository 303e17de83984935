// The halt itself: what it does on this host now (the forced shutdown of
// old, a planned shutdown that may install waiting updates, hibernation or
// sleep), the words that tell people so, and the calls that do it, falling
// back to the forced shutdown whenever a newer way is missing or fails.
#pragma once

#include <string>

#include "config/config.h"
#include "host/host.h"
#include "notify/desk_command.h"
#include "service/day_state.h"

namespace kalmora {

// What the halt does now. `action` is never Unknown.
struct HaltPlan {
  HaltAction action = HaltAction::Forced;
  bool install_updates = false;
  std::string instead;  // why the configured action is not taken, for the entry
  bool operator==(const HaltPlan&) const = default;
};

// The plan for these settings on a host that can do `caps`, with or without
// updates waiting for a restart.
HaltPlan PlanHalt(const Settings& s, const PowerCapabilities& caps, bool updates_pending);
// "shuts down", "goes into hibernation; open programs stay as they are", ...
std::string ActionWords(const HaltPlan& plan);
// Whether people are told something other than the plain shutdown.
inline bool NamesAnAction(const HaltPlan& p) {
  return p.install_updates || p.action == HaltAction::Hibernate || p.action == HaltAction::Sleep;
}
DeskAction DeskActionOf(const HaltPlan& plan);
// InitiateShutdownW's flags for a planned shutdown.
uint32_t ShutdownFlags(const HaltPlan& plan);
// What event 1074 shows as the comment: "Kalmora: holiday 'Christmas Eve'".
std::string ShutdownComment(const DayState& day);

class Halt {
 public:
  Halt(Host& host, const ConfigReadResult& config, DayState& day) : host_(host), config_(config), day_(day) {}

  // Asks the host only what the settings need: a host without the new keys
  // is asked nothing.
  HaltPlan Plan();
  // Halts the host: the entry, the beeps, the privilege, the call. Returns
  // only after a suspend from which the host has resumed; every other way
  // ends the program.
  void HaltSystem();

 private:
  const Settings& settings() const { return *config_.values; }
  [[noreturn]] void ForcedHalt();

  Host& host_;
  const ConfigReadResult& config_;
  DayState& day_;
};

}  // namespace kalmora
