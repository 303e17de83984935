// Waiting on the program's one thread: pending events are delivered while it
// waits, and elapsed time, not the time of day, says how long it has waited,
// so that a wait across midnight ends on time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "host/clock.h"
#include "host/event_loop.h"
#include "host/processes.h"

namespace kalmora {

// How a child program whose work we rely on came to its end.
struct ChildEnd {
  Status start;                    // failed: it never ran
  std::optional<uint32_t> status;  // nothing: still running at the bound, and ended by us
};

class Waits {
 public:
  Waits(Clock& clock, EventLoop& loop, Processes& processes) : clock_(clock), loop_(loop), processes_(processes) {}

  // The one wait: processes pending events and sleeps `step_ms` at a time
  // until `done` holds (asked once `at_least_ms` have passed) or `at_most_ms`
  // have passed. True when `done` held; without `done`, the wait lasts
  // `at_least_ms`.
  bool WaitProcessingEvents(int64_t at_least_ms, int64_t at_most_ms, uint32_t step_ms,
                            const std::function<bool()>& done = {});

  // Starts a child and waits: at least `at_least_ms`, then until it has
  // ended, up to `bound_ms`. `slot` names the child while it runs; `output`
  // receives its standard output (see Processes::StartChild).
  ChildEnd RunChild(const std::string& command_line, int64_t at_least_ms, int64_t bound_ms,
                    std::optional<ChildProcess>* slot = nullptr, const std::string& output = "");

 private:
  Clock& clock_;
  EventLoop& loop_;
  Processes& processes_;
};

}  // namespace kalmora
