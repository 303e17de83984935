#include "host/waits.h"

#include <algorithm>

namespace kalmora {

namespace {
constexpr uint32_t kChildWaitCycleMs = 100;
}  // namespace

bool Waits::WaitProcessingEvents(int64_t at_least_ms, int64_t at_most_ms, uint32_t step_ms,
                                 const std::function<bool()>& done) {
  const int64_t noted = clock_.ElapsedMs();
  for (;;) {
    const int64_t waited = clock_.ElapsedMs() - noted;
    if (waited >= at_least_ms && done && done()) return true;
    if (waited >= std::max(at_least_ms, at_most_ms)) return false;
    loop_.DoEvents();
    loop_.Sleep(step_ms);
  }
}

ChildEnd Waits::RunChild(const std::string& command_line, int64_t at_least_ms, int64_t bound_ms,
                         std::optional<ChildProcess>* slot, const std::string& output) {
  ChildEnd end;
  auto child = processes_.StartChild(command_line, output);
  if (!child) {
    end.start = child.status();
    return end;
  }
  if (slot) *slot = *child;
  // A stop request during the wait still ends the program at once; the
  // child is then left to finish on its own.
  WaitProcessingEvents(at_least_ms, bound_ms, kChildWaitCycleMs,
                       [&] { return processes_.ChildExitStatus(*child).has_value(); });
  end.status = processes_.ChildExitStatus(*child);
  processes_.ReleaseChild(*child, true);
  if (slot) slot->reset();
  return end;
}

}  // namespace kalmora
