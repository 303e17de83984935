// Hosts that sleep, hibernate or stay up for days: every day is decided on
// its own date, a halt that came due while the host slept is announced again
// instead of taking the host down at wake-up, an idle resident service
// wakes once a day, and a day's message-holiday mails go out once however
// often the program starts.
#include <gtest/gtest.h>

#include <regex>

#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

using namespace std::string_literals;

TEST(Sleep, EveryDayIsDecidedOnItsOwnDate) {
  const std::string halt = " event Kalmora: The system is going down for system halt NOW!";
  const std::string warned = " event Kalmora: A scheduled shutdown will take place in 900 seconds.";
  const std::string rearm =
      " event Kalmora: The shutdown due at 19:30:00 came while the host was asleep. It is announced "
      "again and follows after the warning time.";
  const std::string missed =
      " event Kalmora: The shutdown due at 19:30:00 came while the host was asleep. The day ends within the "
      "warning time, so it is not announced again; the next day is decided afresh.";
  const std::regex to(" mail [^|]*\\|");
  const std::string scheduled = "ScheduledShutdown=1\nScheduledShutdownTime=19:30\nScheduledShutdownDays=12345\n";
  const std::vector<std::pair<std::string, std::string>> nights = {{"2026-12-21 19:00", "2026-12-22 07:30"},
                                                                   {"2026-12-22 19:00", "2026-12-23 07:30"}};
  const struct {
    const char* what;
    std::string general, scheduled;
    SimSetup setup;
    Strings brief;                       // each mail's subject, each entry's first paragraph, of every start
    std::vector<SimSetup> earlier = {};  // starts before, in the same program directory
    std::string sent = {};               // msgholidays.sent as the first start finds it
  } cases[] = {
      // clang-format off
      // Each midnight: wake at 00:00:01, settle two minutes, decide.
      {"always on, resident and idle", "DecideDaily=1\nShutdownEnabled=1\n", "",
       {.start = "2026-12-22 07:58", .service = true, .until = "2026-12-24 23:00"},
       {"08:00:00.500 mail d22", "00:02:01.000 mail d23", "00:02:01.000 mail d24", "00:02:04.000 mail Christmas Eve",
        "00:02:07.000 event Kalmora: Today is holiday 'Christmas Eve'. The host will shut down in 180 seconds.",
        "00:05:07.000" + halt}},
      // The resume and the midnight wake that came due in the sleep decide
      // the new day once.
      {"asleep every night before the scheduled halt, resident", "DecideDaily=1\n", scheduled,
       {.start = "2026-12-21 07:58", .service = true, .until = "2026-12-23 12:00", .sleeps = nights},
       {"08:00:00.500 mail d21", "19:00:00.000 suspend 2026-12-22 07:30:00.000", "07:32:01.000 mail d22",
        "19:00:00.000 suspend 2026-12-23 07:30:00.000", "07:32:01.000 mail d23"}},
      // The tick overdue at wake-up finds a new date: no stale halt, a fresh
      // decision.
      {"asleep every night, ticking", "", scheduled,
       {.start = "2026-12-21 07:58", .service = true, .until = "2026-12-23 12:00", .sleeps = nights},
       {"08:00:00.500 mail d21", "19:00:00.000 suspend 2026-12-22 07:30:00.000", "07:32:00.000 mail d22",
        "19:00:00.000 suspend 2026-12-23 07:30:00.000", "07:32:00.000 mail d23"}},
      // The resume runs the start-up again (today's mails are not sent
      // twice), then the warning.
      {"the scheduled halt passed in a two-hour sleep, resident", "DecideDaily=1\n", scheduled,
       {.start = "2026-12-21 07:58", .service = true, .sleeps = {{"2026-12-21 19:00", "2026-12-21 21:00"}}},
       {"08:00:00.500 mail d21", "19:00:00.000 suspend 2026-12-21 21:00:00.000", "21:02:01.000" + rearm,
        "21:02:01.000 mail Kalmora: Shutdown scheduled at 21:17", "21:02:04.000" + warned, "21:17:04.000" + halt}},
      {"the scheduled halt passed in a two-hour sleep, ticking", "", scheduled,
       {.start = "2026-12-21 07:58", .service = true, .sleeps = {{"2026-12-21 19:00", "2026-12-21 21:00"}}},
       {"08:00:00.500 mail d21", "19:00:00.000 suspend 2026-12-21 21:00:00.000", "21:00:00.000" + rearm,
        "21:00:00.000 mail Kalmora: Shutdown scheduled at 21:15", "21:00:03.000" + warned, "21:15:03.000" + halt}},
      // Woken too late for the warning time: nothing promises a halt past
      // midnight; the next day is decided afresh.
      {"the scheduled halt passed in a sleep until 23:55, ticking", "", scheduled,
       {.start = "2026-12-21 07:58", .service = true, .until = "2026-12-22 12:00",
        .sleeps = {{"2026-12-21 19:00", "2026-12-21 23:55"}}},
       {"08:00:00.500 mail d21", "19:00:00.000 suspend 2026-12-21 23:55:00.000", "23:55:00.000" + missed,
        "00:02:01.000 mail d22"}},
      // A resume whose start-up runs past midnight decides the new day, which
      // gets its own warning.
      {"warned, then asleep until 23:59:30, resident", "DecideDaily=1\n", scheduled,
       {.start = "2026-12-21 07:58", .service = true, .until = "2026-12-22 20:00",
        .sleeps = {{"2026-12-21 19:20", "2026-12-21 23:59:30"}}},
       {"08:00:00.500 mail d21", "19:15:03.500 mail Kalmora: Shutdown scheduled at 19:30", "19:15:06.500" + warned,
        "19:20:00.000 suspend 2026-12-21 23:59:30.000", "00:01:31.000 mail d22",
        "19:15:04.000 mail Kalmora: Shutdown scheduled at 19:30", "19:15:07.000" + warned, "19:30:04.000" + halt}},
      // A day's message-holiday mails go out once on this host, across
      // restarts, while the holiday's notice goes with every start.
      {"three starts on two days", "ShutdownEnabled=1\nExitAfterCheck=1\n", "",
       {.start = "2026-12-24 12:00", .service = true},
       {"08:00:00.500 mail d23", "08:00:00.500 mail d24", "08:00:03.500 mail Christmas Eve",
        "08:00:06.500 event Kalmora: Today is holiday 'Christmas Eve'. The host will shut down in 180 seconds.",
        "08:03:06.500" + halt, "12:02:00.500 mail Christmas Eve",
        "12:02:03.500 event Kalmora: Today is holiday 'Christmas Eve'. The host will shut down in 180 seconds.",
        "12:05:03.500" + halt},
       {{.start = "2026-12-23 07:58", .service = true}, {.start = "2026-12-24 07:58", .service = true}}},
      // A mail that failed is tried again at the next start; a record that
      // does not parse counts as none.
      {"a failed mail, then a start", "ExitAfterCheck=1\n", "", {.start = "2026-12-21 09:00", .service = true},
       {"08:00:00.500 mail d21", "08:00:03.500 event Kalmora: The message-holiday email of [MsgHolidays] row 1 "
        "(21.12.####, subject \"d21\") to inform it@example.com was handed to send.bat, which reported failure "
        "(status 1).", "09:02:00.500 mail d21"},
       {{.start = "2026-12-21 07:58", .service = true, .exit_status = {{"send.bat", 1}}}}},
      {"a garbled record", "ExitAfterCheck=1\n", "", {.start = "2026-12-21 07:58", .service = true},
       {"08:00:00.500 mail d21"}, {}, "2026-12-21\r\n21.12.####\tit@example.com\td21\r\nnonsense\r\n"},
      {"another day's record", "ExitAfterCheck=1\n", "", {.start = "2026-12-21 07:58", .service = true},
       {"08:00:00.500 mail d21"}, {}, "2026-12-20\r\n21.12.####\tit@example.com\td21\r\n"},
      // clang-format on
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    dir.Write("kalmora.ini", Ini(c.general + "MsgOnShutdownEmail=1\n", "24.12.#### = Christmas Eve\n",
                                 "21.12.####,d21,,\n22.12.####,d22,,\n23.12.####,d23,,\n24.12.####,d24,,\n",
                                 "EmailAddress=it@example.com\n", c.scheduled));
    if (!c.sent.empty()) dir.Write("msgholidays.sent", c.sent);
    Strings brief;
    for (const SimSetup& setup : c.earlier) {
      for (std::string& line : RunSim(dir, setup).Brief({"mail", "event", "suspend"})) brief.push_back(line);
    }
    for (std::string& line : RunSim(dir, c.setup).Brief({"mail", "event", "suspend"})) brief.push_back(line);
    for (std::string& line : brief) line = std::regex_replace(line.substr(0, line.find("||")), to, " mail ");
    EXPECT_EQ(brief, c.brief) << c.what;
  }
}

// One timer wake-up a day for a resident service with nothing armed, not a
// tick every ten seconds; without DecideDaily the first tick ends the ticks,
// and an ExitAfterCheck that is no number (neither 0 nor 1) starts none.
TEST(Sleep, AnIdleServiceWakesOnceADayOrNever) {
  for (auto [general, least, most] : {std::tuple{"DecideDaily=1\n", 7, 14},
                                      {"DecideDaily=0\n", 1, 1},
                                      {"ExitAfterCheck=yes\n", 0, 0},
                                      {"ExitAfterCheck=\n", 0, 0}}) {
    const SimRun run = RunIni(Ini(general), {.start = "2026-12-18 07:58", .until = "2026-12-25 07:58"});
    EXPECT_TRUE(run.timer_wakeups >= least && run.timer_wakeups <= most) << general << ": " << run.timer_wakeups;
  }
}

}  // namespace
}  // namespace kalmora::testing
