// Hosts that sleep, hibernate or stay up for days: every day is decided on
// its own date, a halt that came due while the host slept is announced again
// instead of taking the host down at wake-up, and an idle resident service
// wakes once a day.
#include <gtest/gtest.h>

#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

// One message-holiday row a day, so each day's decision shows as its mail.
const std::string kDailyMails =
    "18.12.####,d18,x,\n19.12.####,d19,x,\n20.12.####,d20,x,\n21.12.####,d21,x,\n22.12.####,d22,x,\n"
    "23.12.####,d23,x,\n24.12.####,d24,x,\n";
const std::string kScheduled = "ScheduledShutdown=1\nScheduledShutdownTime=19:30\nScheduledShutdownDays=12345\n";

// The run in brief: each mail's subject, each halt, each information entry's
// first line.
Strings Brief(const SimRun& run) {
  Strings out;
  for (const auto& line : run.Lines({"mail", "halt", "event", "suspend"})) {
    const size_t cut = line.find('\r');
    std::string l = line.substr(0, cut);
    if (l.find(" mail ") != std::string::npos) {
      const size_t s = line.find("Subject: ") + 9;
      l = l.substr(0, l.find(" mail ") + 6) + line.substr(s, line.find('\r', s) - s);
    }
    out.push_back(l);
  }
  return out;
}

TEST(Sleep, EveryDayIsDecidedOnItsOwnDate) {
  const std::string notice = "Kalmora: A scheduled shutdown will take place in 900 seconds.";
  const std::string rearm =
      "Kalmora: The shutdown due at 19:30:00 came while the host was asleep. It is announced again and follows after "
      "the warning time.";
  const struct {
    const char* what;
    std::string general, scheduled;
    SimSetup setup;
    Strings brief;
  } cases[] = {
      {"always on for a week, resident and idle",
       "DecideDaily=1\nShutdownEnabled=1\n",
       "",
       {.start = "2026-12-18 07:58", .service = true, .until = "2026-12-24 23:00"},
       // Each midnight: wake at 00:00:01, settle two minutes, decide.
       {"08:00:00.500 mail d18", "00:02:01.000 mail d19", "00:02:01.000 mail d20", "00:02:01.000 mail d21",
        "00:02:01.000 mail d22", "00:02:01.000 mail d23", "00:02:01.000 mail d24", "00:02:04.000 mail Christmas Eve",
        "00:02:07.000 event Kalmora: Today is holiday 'Christmas Eve'. The host will shut down in 180 seconds.",
        "00:05:07.000 event Kalmora: The system is going down for system halt NOW!", "00:05:07.000 halt 5 4294967295"}},
      {"asleep every night before the scheduled halt, resident",
       "DecideDaily=1\n",
       kScheduled,
       {.start = "2026-12-21 07:58",
        .service = true,
        .until = "2026-12-23 12:00",
        .sleeps = {{"2026-12-21 19:00", "2026-12-22 07:30"}, {"2026-12-22 19:00", "2026-12-23 07:30"}}},
       // The resume and the midnight wake that came due in the sleep decide the new day once.
       {"08:00:00.500 mail d21", "19:00:00.000 suspend 2026-12-22 07:30:00.000", "07:32:01.000 mail d22",
        "19:00:00.000 suspend 2026-12-23 07:30:00.000", "07:32:01.000 mail d23"}},
      {"asleep every night, ticking as specified",
       "",
       kScheduled,
       {.start = "2026-12-21 07:58",
        .service = true,
        .until = "2026-12-23 12:00",
        .sleeps = {{"2026-12-21 19:00", "2026-12-22 07:30"}, {"2026-12-22 19:00", "2026-12-23 07:30"}}},
       // The tick overdue at wake-up finds a new date: no stale halt, a fresh decision.
       {"08:00:00.500 mail d21", "19:00:00.000 suspend 2026-12-22 07:30:00.000", "07:32:00.000 mail d22",
        "19:00:00.000 suspend 2026-12-23 07:30:00.000", "07:32:00.000 mail d23"}},
      {"the scheduled halt passed in a two-hour sleep, resident",
       "DecideDaily=1\n",
       kScheduled,
       {.start = "2026-12-21 07:58", .service = true, .sleeps = {{"2026-12-21 19:00", "2026-12-21 21:00"}}},
       // The resume runs the start-up again (today's mails are not sent twice), then the warning.
       {"08:00:00.500 mail d21", "19:00:00.000 suspend 2026-12-21 21:00:00.000", "21:02:01.000 event " + rearm,
        "21:02:01.000 mail Kalmora: Shutdown scheduled at 21:17", "21:02:04.000 event " + notice,
        "21:17:04.000 event Kalmora: The system is going down for system halt NOW!", "21:17:04.000 halt 5 4294967295"}},
      {"the scheduled halt passed in a two-hour sleep, ticking as specified",
       "",
       kScheduled,
       {.start = "2026-12-21 07:58", .service = true, .sleeps = {{"2026-12-21 19:00", "2026-12-21 21:00"}}},
       {"08:00:00.500 mail d21", "19:00:00.000 suspend 2026-12-21 21:00:00.000", "21:00:00.000 event " + rearm,
        "21:00:00.000 mail Kalmora: Shutdown scheduled at 21:15", "21:00:03.000 event " + notice,
        "21:15:03.000 event Kalmora: The system is going down for system halt NOW!", "21:15:03.000 halt 5 4294967295"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SimRun run = RunIni(Ini(c.general + "MsgOnShutdownEmail=1\n", "24.12.#### = Christmas Eve\n", kDailyMails,
                            "EmailAddress=it@example.com\n", c.scheduled),
                        c.setup);
    EXPECT_EQ(Brief(run), c.brief);
  }
}

// Resident with nothing armed: one timer wake-up a day, not a tick every ten
// seconds.
TEST(Sleep, AnIdleResidentServiceWakesOnceADay) {
  SimRun run = RunIni(Ini("DecideDaily=1\n"), {.start = "2026-12-18 07:58", .until = "2026-12-25 07:58"});
  EXPECT_LE(run.timer_wakeups, 2 * 7);
  EXPECT_GE(run.timer_wakeups, 7);
}

}  // namespace
}  // namespace kalmora::testing
