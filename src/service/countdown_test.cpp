// The countdown: the halt at the first tick at or after the moment, the timer
// that stops itself, and the watch that sends the scheduled warning once even
// when ticks run inside it. (A moment past midnight: see the start-up tests.)
#include <gtest/gtest.h>

#include "service/frm_main.h"
#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

TEST(Countdown, HaltsAtTheFirstTickAtOrAfterTheMoment) {
  // Checked at 10:00:00; ticks every 10 s from then on.
  const std::pair<std::string, std::string> cases[] = {
      {"180", "10:03:00.000"}, {"175", "10:03:00.000"}, {"181", "10:03:10.000"}, {"0", "10:00:10.000"}};
  for (const auto& [delay, at] : cases) {
    // The entry, then the shutdown request, then the end, all at once.
    const Strings lines = RunIni(Ini("ShutdownEnabled=1\nShutdownDelay=" + delay, "21.12.2026 = Solstice"),
                                 {.start = "2026-12-21 09:59:50"})
                              .Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(Strings(lines.end() - 3, lines.end()),
              (Strings{at + " event Kalmora: The system is going down for system halt NOW!", at + " halt 5 4294967295",
                       at + " exit halt"}))
        << "ShutdownDelay " << delay;
  }
}

// frmMain on a simulated host of its own, driven one step at a time.
struct Direct {
  ScratchDir dir;
  DirectHost d;
  frmMain form{d.host};

  Direct(const std::string& ini, const std::string& start) : d(dir, start) {
    dir.Write("kalmora.ini", ini);
    d.host.SetEventSink(&form);
    EXPECT_EQ(form.ReadConfiguration(), 0);
    form.DailyCheck();
  }
  void RunFor(int64_t ms) {
    for (const int64_t end = d.world.now() + ms; d.world.now() < end;) {
      d.host.Sleep(100);
      d.host.DoEvents();
    }
  }
};

TEST(Countdown, WithNothingArmedTheFirstTickStopsTheTimer) {
  Direct t(Ini("ExitAfterCheck=0\n"), "2026-12-21 10:00:00");
  EXPECT_TRUE(t.d.host.TimerEnabled(TimerId::Delay));
  t.RunFor(10000);
  EXPECT_FALSE(t.d.host.TimerEnabled(TimerId::Delay));
  EXPECT_TRUE(t.d.world.records().empty());
}

TEST(Countdown, TicksInsideTheWarningsMailPauseDoNotSendItAgain) {
  Direct t(Ini("MsgOnShutdownEmail=1\n", "", "", "EmailAddress=it@example.com\n",
               "ScheduledShutdown=1\nScheduledShutdownTime=17:00\nScheduledShutdownDays=1\n"),
           "2026-12-21 16:50:00");
  ASSERT_TRUE(t.form.DoScheduledShutdown());
  // A tick every second, so three of them fall inside the 3-second pause.
  t.d.host.SetTimerInterval(TimerId::Delay, 1000);
  t.RunFor(6000);
  EXPECT_TRUE(t.form.ScheduleWarningSent());
  EXPECT_EQ(Lines(t.d.world.records(), {"mail", "event"}).size(), 2u);
}

}  // namespace
}  // namespace kalmora::testing
