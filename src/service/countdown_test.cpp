// The countdown: the halt at the first tick at or after the moment, a moment
// past midnight and the new day, the timer that stops itself, and the watch
// that sends the scheduled warning once even when ticks run inside it.
#include <gtest/gtest.h>

#include "host/sim/sim_host.h"
#include "service/frm_main.h"
#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

TEST(Countdown, HaltsAtTheFirstTickAtOrAfterTheMoment) {
  // Checked at 10:00:00; ticks every 10 s from then on.
  const std::pair<const char*, const char*> cases[] = {{"180", "2026-12-21 10:03:00.000"},
                                                       {"175", "2026-12-21 10:03:00.000"},
                                                       {"181", "2026-12-21 10:03:10.000"},
                                                       {"0", "2026-12-21 10:00:10.000"}};
  for (auto [delay, halt_at] : cases) {
    ScratchDir dir;
    dir.Write("kalmora.ini", Ini(std::string("ShutdownEnabled=1\nShutdownDelay=") + delay, "21.12.2026 = Solstice"));
    SimRun run = RunSim(dir, {.start = "2026-12-21 09:59:50"});
    const auto& r = run.records;
    ASSERT_GE(r.size(), 3u);
    // The entry, then the shutdown request, then the end, all at once.
    EXPECT_EQ(r[r.size() - 3].value("text", ""), "Kalmora: The system is going down for system halt NOW!");
    EXPECT_EQ(r[r.size() - 2]["kind"], "halt");
    EXPECT_EQ(r[r.size() - 2].value("flags", 0), 5);
    EXPECT_EQ(r[r.size() - 2].value("reason", 0u), 0xFFFFFFFFu);
    EXPECT_EQ(r.back()["reason"], "halt");
    for (size_t i = r.size() - 3; i < r.size(); ++i) EXPECT_EQ(r[i]["t"], halt_at) << "ShutdownDelay " << delay;
  }
}

TEST(Countdown, AMomentPastMidnightGivesWayToTheNewDaysCheck) {
  ScratchDir dir;
  dir.Write("kalmora.ini", Ini("ShutdownEnabled=1\n", "24.12.#### = Christmas Eve\n25.12.#### = Christmas Day\n"));
  // Checked at 23:58:30: the moment 86490 s is never reached.
  SimRun run = RunSim(dir, {.start = "2026-12-24 23:58:20"});
  std::vector<std::string> got;
  for (const auto& r : run.records) {
    if (r["kind"] == "event" || r["kind"] == "halt" || r.value("call", "") == "ConnectServiceManager") {
      got.push_back(r["t"].get<std::string>() + " " + r.value("text", r["kind"].get<std::string>()));
    }
  }
  EXPECT_EQ(got, (std::vector<std::string>{
                     "2026-12-24 23:58:20.000 service",
                     "2026-12-24 23:58:30.000 Kalmora: Today is holiday 'Christmas Eve'. The host will shut down "
                     "in 180 seconds.",
                     // The first tick after midnight starts over.
                     "2026-12-25 00:00:00.000 service",
                     "2026-12-25 00:00:10.000 Kalmora: Today is holiday 'Christmas Day'. The host will shut down "
                     "in 180 seconds.",
                     "2026-12-25 00:03:10.000 Kalmora: The system is going down for system halt NOW!",
                     "2026-12-25 00:03:10.000 halt"}));
}

// frmMain on a simulated host of its own, driven one step at a time.
struct Direct {
  ScratchDir dir;
  sim::World world;
  sim::SimHost host;
  frmMain form;

  Direct(const std::string& ini, const std::string& start)
      : world(Options(dir, start)), host(world, "kalmora", "", false), form(host) {
    dir.Write("kalmora.ini", ini);
    host.SetEventSink(&form);
    EXPECT_EQ(form.ReadConfiguration(), 0);
  }
  static sim::Options Options(const ScratchDir& d, const std::string& start) {
    sim::Options o;
    o.work_dir = d.path();
    o.start = sim::ParseTime(start).value();
    o.until = o.start + 86400000;
    return o;
  }
  void RunFor(int64_t ms) {
    for (const int64_t end = world.now() + ms; world.now() < end;) {
      host.Sleep(100);
      host.DoEvents();
    }
  }
};

TEST(Countdown, WithNothingArmedTheFirstTickStopsTheTimer) {
  Direct d(Ini("ExitAfterCheck=0\n"), "2026-12-21 10:00:00");
  d.form.DailyCheck();
  EXPECT_TRUE(d.host.TimerEnabled(TimerId::Delay));
  d.RunFor(10000);
  EXPECT_FALSE(d.host.TimerEnabled(TimerId::Delay));
  EXPECT_TRUE(d.world.records().empty());
}

TEST(Countdown, TicksInsideTheWarningsMailPauseDoNotSendItAgain) {
  Direct d(Ini("MsgOnShutdownEmail=1\n", "", "", "EmailAddress=it@example.com\n",
               "ScheduledShutdown=1\nScheduledShutdownTime=17:00\nScheduledShutdownDays=1\n"),
           "2026-12-21 16:50:00");
  d.form.DailyCheck();
  ASSERT_TRUE(d.form.DoScheduledShutdown());
  // A tick every second, so three of them fall inside the 3-second pause.
  d.host.SetTimerInterval(TimerId::Delay, 1000);
  d.RunFor(6000);
  EXPECT_TRUE(d.form.ScheduleWarningSent());
  int mails = 0, entries = 0;
  for (const auto& r : d.world.records()) {
    mails += r["kind"] == "mail";
    entries += r["kind"] == "event";
  }
  EXPECT_EQ(mails, 1);
  EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace kalmora::testing
