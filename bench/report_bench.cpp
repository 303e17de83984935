// The fleet report over 100,000 forwarded events (two weeks of a 150-desk
// fleet with daily reports, postpones and halts), side by side with the
// floor: one pass of libxml2 over the same bytes as a single document.
// Also how much the read events hold against the input's size.
//
//   scripts/bench prints the time, its ratio to the floor, and the memory.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include "tools/report.h"

namespace kalmora::testing {
namespace {

std::string FleetEvents(int count) {
  static const char* kTexts[] = {
      "Kalmora 1.0.5 (configuration 2026-12) on PC-%03d decided 2026-12-24: holiday 'Christmas Eve', shutdown at "
      "08:03:03.",
      "Kalmora: Today is holiday 'Christmas Eve'. The host will shut down in 180 seconds. An email has been sent to "
      "it@example.com.",
      "Kalmora: The shutdown due at 08:03:03 was postponed by 30 minutes to 08:33:03 from session 2 (user MAYER).",
      "Kalmora: The system is going down for system halt NOW!",
  };
  std::string xml = "\xEF\xBB\xBF";
  report::ForwardedEvent e;
  e.provider = "Kalmora";
  e.event_id = 110;
  e.level = 4;
  for (int i = 0; i < count; ++i) {
    char text[256], computer[16];
    std::snprintf(computer, sizeof computer, "PC-%03d", i / 4 % 150);
    std::snprintf(text, sizeof text, kTexts[i % 4], i / 4 % 150);
    e.computer = computer;
    e.record_id = static_cast<uint64_t>(1000 + i);
    e.utc_ms = 1797580800000LL + (i / 600) * 86400000LL + (i % 4) * 60000LL;  // a day a 150 hosts
    e.text = text;
    xml += report::EventXml(e);
  }
  return xml;
}

const std::string& Events() {
  static const std::string xml = FleetEvents(100000);
  return xml;
}

void BM_Floor_OneLibxml2Pass(benchmark::State& state) {
  const std::string doc = "<Events>" + Events().substr(3) + "</Events>";
  for (auto _ : state) {
    xmlDocPtr d = xmlReadMemory(doc.data(), static_cast<int>(doc.size()), nullptr, "UTF-8", XML_PARSE_NONET);
    benchmark::DoNotOptimize(d);
    xmlFreeDoc(d);
  }
}
BENCHMARK(BM_Floor_OneLibxml2Pass)->Unit(benchmark::kMillisecond);

void BM_ReportOf100kEvents(benchmark::State& state) {
  size_t held = 0;
  for (auto _ : state) {
    std::vector<report::ForwardedEvent> events;
    std::vector<report::EventProblem> problems;
    report::ReadEvents(Events(), "events.xml", events, problems);
    const auto rows = report::Build(events, {.utc_offset_minutes = 60});
    benchmark::DoNotOptimize(rows.data());
    held = events.capacity() * sizeof(report::ForwardedEvent);
    for (const auto& ev : events) held += ev.text.capacity() + ev.computer.capacity() + ev.provider.capacity();
    if (events.size() != 100000 || !problems.empty()) state.SkipWithError("not every event was read");
  }
  state.counters["held_per_input"] = static_cast<double>(held) / static_cast<double>(Events().size());
}
BENCHMARK(BM_ReportOf100kEvents)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kalmora::testing
