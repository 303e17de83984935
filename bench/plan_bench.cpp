// kalmora-sim plan over a year: the bundled example, and a file with 10,000
// shutdown holidays and 10,000 message-holiday rows; one day for the ratio.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "sim_fixture.h"
#include "tools/plan.h"

namespace kalmora::testing {
namespace {

void PlanDays(benchmark::State& state, const std::string& dir) {
  for (auto _ : state) {
    ScratchDir work;
    plan::Options o;
    o.dir = dir;
    o.work = work.path();
    o.from = *sim::ParseTime("2027-01-01 00:00");
    o.days = static_cast<int>(state.range(0));
    benchmark::DoNotOptimize(plan::Run(o));
  }
}

void BM_PlanExample(benchmark::State& state) { PlanDays(state, std::string(KALMORA_SOURCE_DIR) + "/examples/program"); }
BENCHMARK(BM_PlanExample)->Arg(1)->Arg(365)->Unit(benchmark::kMillisecond);

void BM_PlanLargeLists(benchmark::State& state) {
  static ScratchDir dir;
  static bool written = false;
  if (!written) {
    std::string shutdown, msg;
    for (int i = 0; i < 10000; ++i) {
      char date[16];
      std::snprintf(date, sizeof date, "%02d.%02d.20%02d", 1 + i % 28, 1 + i / 28 % 12, 30 + i % 50);
      shutdown += std::string(date) + " = Holiday " + std::to_string(i) + "\n";
      msg += std::string(date) + ",\"Subject\",\"Body\",a@example.com\n";
    }
    dir.Write("kalmora.ini", Ini("ShutdownEnabled=1\n", shutdown, msg));
    written = true;
  }
  PlanDays(state, dir.path());
}
BENCHMARK(BM_PlanLargeLists)->Arg(1)->Arg(365)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kalmora::testing
