// The fleet report over any bytes: the reader of event XML never crashes or
// hangs, every event it hands on has its provider, computer and time, and
// every row it makes has one of the outcomes and renders in each format.
#include <set>
#include <string>

#include "fuzz_input.h"
#include "tools/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kalmora::report;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<ForwardedEvent> events;
  std::vector<EventProblem> problems;
  ReadEvents(bytes, "fuzz.xml", events, problems);
  for (const ForwardedEvent& e : events) Check(!e.provider.empty() && !e.computer.empty());
  for (const EventProblem& p : problems) Check(p.line >= 1 && !p.what.empty());
  const Options o{.watts = 60.0, .utc_offset_minutes = 0};
  const auto rows = Build(events, o);
  static const std::set<std::string> kOutcomes = {"halted", "no halt planned", "given up", "failed", "silent"};
  for (const HostDay& r : rows) Check(kOutcomes.count(r.outcome) == 1);
  Check(!Text(rows, o, problems).empty() && !Html(rows, o, problems).empty() && !Csv(rows, o).empty());
  Check(rows.empty() == JsonLines(rows, o).empty());
  return 0;
}
