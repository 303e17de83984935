// kalmora-sim plan over a year: the bundled example, and a file with 10,000
// shutdown holidays and 10,000 message-holiday rows; one day for the ratio.
// Each plan finds kalmora.ini changed (a comment), so that it is parsed once
// per plan, as a plan of a file just edited is.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "sim_fixture.h"
#include "tools/plan.h"

namespace kalmora::testing {
namespace {

void PlanDays(benchmark::State& state, const ScratchDir& dir, const std::string& ini) {
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    dir.Write("kalmora.ini", "; plan " + std::to_string(++n) + "\r\n" + ini);
    ScratchDir work;
    plan::Options o;
    o.dir = dir.path();
    o.work = work.path();
    o.from = *sim::ParseTime("2027-01-01 00:00");
    o.days = static_cast<int>(state.range(0));
    state.ResumeTiming();
    benchmark::DoNotOptimize(plan::Run(o));
  }
}

void BM_PlanExample(benchmark::State& state) {
  static ScratchDir dir;
  std::error_code ec;
  sim::CopyTree(std::string(KALMORA_SOURCE_DIR) + "/examples/program", dir.path(), ec);
  PlanDays(state, dir, dir.Read("kalmora.ini"));
}
BENCHMARK(BM_PlanExample)->Arg(1)->Arg(365)->Unit(benchmark::kMillisecond);

void BM_PlanLargeLists(benchmark::State& state) {
  static ScratchDir dir;
  std::string shutdown, msg;
  for (int i = 0; i < 10000; ++i) {
    char date[16];
    std::snprintf(date, sizeof date, "%02d.%02d.20%02d", 1 + i % 28, 1 + i / 28 % 12, 30 + i % 50);
    shutdown += std::string(date) + " = Holiday " + std::to_string(i) + "\n";
    msg += std::string(date) + ",\"Subject\",\"Body\",a@example.com\n";
  }
  PlanDays(state, dir, Ini("ShutdownEnabled=1\n", shutdown, msg));
}
BENCHMARK(BM_PlanLargeLists)->Arg(1)->Arg(365)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kalmora::testing
