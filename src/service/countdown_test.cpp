// The countdown driven one tick at a time: the timer that stops itself, and
// the watch that sends the scheduled warning once even when ticks run inside
// it. (The halt's tick: the scheduled-shutdown timelines; a moment past
// midnight: the start-up tests.)
#include <gtest/gtest.h>

#include "service/frm_main.h"
#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

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
