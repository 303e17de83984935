// Start-up on the simulated host: the command line, the service start and
// its waits, the configuration failure and the exit timer.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

using namespace std::string_literals;

// Ends 4.5 s after the check, so the check's moment shows in the exit time.
const std::string kExitAfterCheck = Ini("ExitAfterCheck=1\n");

// "Call(arg) -> result" for each call to the service manager.
Strings ServiceCalls(const SimRun& run) {
  Strings calls;
  for (const auto& r : run.Of("service")) {
    calls.push_back(r["call"].get<std::string>() + (r.contains("arg") ? "(" + r["arg"].dump() + ")" : "") +
                    (r.contains("result") ? " -> " + r["result"].dump() : ""));
  }
  return calls;
}

TEST(CommandLine, ShowsItsMessageAndEnds) {
  const std::string invalid = "Invalid command line parameter. none";
  const std::pair<std::string, Strings> cases[] = {
      {"-install",
       {"Kalmora Service successfully installed! information", "SetInteractiveDesktop(true)", "SetStartType(2)",
        "RegisterService -> true"}},
      {"-uninstall", {"Kalmora Service successfully uninstalled! information", "UnregisterService -> true"}},
      // The comparison is exact: case, further words and blanks all count.
      {"-INSTALL", {invalid}},
      {"-install x", {invalid}},
      {" -debug", {invalid}},
      {"/install", {invalid}},
  };
  for (const auto& [args, box_and_calls] : cases) {
    SimRun run = RunIni(kExitAfterCheck, {.args = args});
    EXPECT_EQ(run.Lines({"msgbox", "event", "exit"}),
              (Strings{"07:58:00.000 msgbox Kalmora " + box_and_calls[0], "07:58:00.000 exit command"}));
    EXPECT_EQ(ServiceCalls(run), Strings(box_and_calls.begin() + 1, box_and_calls.end())) << args;
  }
}

// How a run ends, which shows when the configuration was read and checked.
TEST(StartWaits, AndTheEnd) {
  const struct {
    const char* name;
    SimSetup run_setup;
    const char* end;
    bool stopped_reported = true;
    std::string ini = kExitAfterCheck;  // no file when empty
  } cases[] = {
      // By hand: no service manager answers, the start wait runs its ten
      // seconds and no settling wait follows. The exit timer tells the
      // service manager before the program ends.
      {"by hand", {.start = "2026-12-21 09:00"}, "09:00:14.500 exit exit-timer"},
      // Under the service manager: running half a second in, then two
      // minutes of settling, on elapsed time across midnight too.
      {"service", {.start = "2026-12-21 09:00", .service = true}, "09:02:05.000 exit exit-timer"},
      {"settling across midnight", {.start = "2026-12-21 23:59:30", .service = true}, "00:01:35.000 exit exit-timer"},
      // Debug mode never connects, even when the service manager started us.
      {"debug", {.start = "2026-12-21 09:00", .args = "-debug", .service = true}, "09:00:14.500 exit exit-timer"},
      // Delivered at the next processing of events, before the configuration
      // (missing here) is read.
      // clang-format off
      {"stop while settling", {.start = "2026-12-21 09:00", .service = true, .stop_at = "2026-12-21 09:01:00"},
       "09:01:00.000 exit stop", false, ""},
      // Nothing armed, ExitAfterCheck 0: tmrDelay lapses at its first tick.
      {"stop while idle", {.start = "2026-12-21 09:00", .service = true, .stop_at = "2026-12-21 17:30"},
       "17:30:00.000 exit stop", false, Ini("")},
      // clang-format on
      {"idle", {.start = "2026-12-21 09:00", .until = "2026-12-21 12:00"}, "12:00:00.000 exit until", false, Ini("")},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    if (!c.ini.empty()) dir.Write("kalmora.ini", c.ini);
    SimRun run = RunSim(dir, c.run_setup);
    EXPECT_EQ(run.Lines({"event", "exit"}), Strings{c.end}) << c.name;
    const Strings calls = ServiceCalls(run);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "ReportServiceStopped"), c.stopped_reported) << c.name;
    EXPECT_TRUE(!c.stopped_reported || calls.back() == "ReportServiceStopped") << c.name;
  }
}

// A file that cannot be read ends the program (after the warning of a file
// without its version).
TEST(ConfigurationFailure, LogsStopsTheServiceAndEnds) {
  // The specified entry, then one that says why and where.
  const std::pair<std::string, std::string> cases[] = {
      {"<none>", "kalmora.ini: the file cannot be opened."},
      {"", "kalmora.ini: no line [ShutdownHolidays]."},
      {"[GeneralOptions]\r\nVersion=one\r\n", "kalmora.ini line 2: Version is not a number."},
      {"[GeneralOptions]\r\nVersion=1\r\nShutdownEnabled=1\r\n", "kalmora.ini: no line [ShutdownHolidays]."},
      {"MZ\0\x90\0\x03\0\0\0\xff\xff"s, "kalmora.ini: no line [ShutdownHolidays]."},
      {"[ShutdownHolidays]\r\n24.12.#### = Eve\r\n[MsgHolidays]\r\n",
       "kalmora.ini line 3: no line [MsgHolidays] after the list [ShutdownHolidays]."},
      {"[ShutdownHolidays]\r\n\r\n[MsgHolidays]\r\n24.12.####,\"a\r\n",
       "kalmora.ini line 4: a quote in [MsgHolidays] is never closed."},
  };
  for (const auto& [ini, why] : cases) {
    ScratchDir dir;
    if (ini != "<none>") dir.Write("kalmora.ini", ini);
    SimRun run = RunSim(dir, {.start = "2026-12-24 07:58", .service = true});
    const Strings lines = run.Lines({"event", "exit"});
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(Strings(lines.end() - 3, lines.end()),
              (Strings{"08:00:00.500 event Kalmora: Error while reading kalmora.ini. The file is probably missing or "
                       "corrupt. The service will now terminate.",
                       "08:00:00.500 event Kalmora: " + why, "08:00:00.500 exit config"}));
    EXPECT_TRUE(run.Of("event").back()["type"] == 1 && run.Of("event").back()["id"] == 109);
    EXPECT_EQ(ServiceCalls(run).back(), "ReportServiceStopped");
    EXPECT_TRUE(run.Of("mail").empty() && run.Of("halt").empty());
  }
}

// After midnight a countdown that aimed past it runs the start-up again:
// under the service manager that repeats the settling wait but not the
// connection, and the new day is decided afresh (here: Friday's scheduled
// shutdown, which nothing left over from Thursday may block).
TEST(Rerun, AfterMidnightSettlesAgainAndDecidesTheNewDay) {
  SimRun run = RunIni(Ini("ShutdownEnabled=1\nShutdownDelay=600\n", "24.12.#### = Eve\n", "", "",
                          "ScheduledShutdown=1\nScheduledShutdownTime=00:30\nScheduledShutdownDays=5\n"),
                      {.start = "2026-12-24 23:50", .service = true, .until = "2026-12-25 01:00"});
  EXPECT_EQ(ServiceCalls(run), (Strings{"SetAcceptedControls(2)", "ConnectServiceManager"}));
  // The moment 00:02:00.5 is never reached: the first tick after midnight
  // restarts.
  EXPECT_EQ(run.Lines({"event", "halt", "exit"}),
            (Strings{"23:52:00.500 event Kalmora: Today is holiday 'Eve'. The host will shut down in 600 seconds.",
                     "00:15:00.500 event Kalmora: A scheduled shutdown will take place in 900 seconds.",
                     "00:30:00.500 event Kalmora: The system is going down for system halt NOW!",
                     "00:30:00.500 halt 5 4294967295", "00:30:00.500 exit halt"}));
}

}  // namespace
}  // namespace kalmora::testing
