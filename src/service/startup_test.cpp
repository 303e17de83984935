// Start-up on the simulated host: the command line, the service start and
// its waits, the configuration failure and the exit timer. (The re-run after
// midnight: the decision tests.)
#include <gtest/gtest.h>

#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

using namespace std::string_literals;

// The argument string is compared exactly: case, further words and blanks
// all count. Whatever it does, the program ends at once.
TEST(Startup, CommandLine) {
  const Strings invalid = {"msgbox Kalmora Invalid command line parameter. none", "exit command"};
  const std::pair<std::string, Strings> cases[] = {
      // clang-format off
      {"-install", {"service SetInteractiveDesktop", "service SetStartType 2", "service RegisterService",
                    "msgbox Kalmora Kalmora Service successfully installed! information", "exit command"}},
      {"-uninstall", {"service UnregisterService",
                      "msgbox Kalmora Kalmora Service successfully uninstalled! information", "exit command"}},
      // -quiet: the same without the message box.
      {"-install -quiet", {"service SetInteractiveDesktop", "service SetStartType 2", "service RegisterService",
                           "exit command"}},
      {"-uninstall -quiet", {"service UnregisterService", "exit command"}},
      {"-INSTALL", invalid}, {"-install x", invalid}, {" -debug", invalid}, {"-debugx", invalid}, {"/install", invalid},
      {"-quiet", invalid}, {"-install  -quiet", invalid}, {"-debug -quiet", invalid}, {"-quiet -install", invalid}};
  // clang-format on
  for (const auto& [args, expected] : cases) {
    Strings lines = RunIni(Ini("ExitAfterCheck=1\n"), {.args = args}).Lines({"msgbox", "service", "event", "exit"});
    for (std::string& line : lines) line = line.substr(line.find(' ') + 1);
    EXPECT_EQ(lines, expected) << args;
  }
}

// How a run ends shows when the configuration was read and checked; the
// service manager is told of every end but by its own stop.
TEST(Startup, WaitsAndTheEnd) {
  const std::string failed =
      " event Kalmora: Error while reading kalmora.ini. The file is probably missing or corrupt. The service will "
      "now terminate.";
  const struct {
    const char* name;
    SimSetup setup;
    Strings end;
    bool stop_reported = true;
    std::string ini = Ini("ExitAfterCheck=1\n");  // no file when empty
  } cases[] = {
      // clang-format off
      // By hand: no service manager answers, the start wait runs its ten
      // seconds and no settling wait follows.
      {"by hand", {.start = "2026-12-21 09:00"}, {"09:00:14.500 exit exit-timer"}},
      // Under the service manager: running half a second in, then two
      // minutes of settling, on elapsed time across midnight too.
      {"service", {.start = "2026-12-21 09:00", .service = true}, {"09:02:05.000 exit exit-timer"}},
      {"settling across midnight", {.start = "2026-12-21 23:59:30", .service = true}, {"00:01:35.000 exit exit-timer"}},
      // Debug mode never connects, even when the service manager started us.
      {"debug", {.start = "2026-12-21 09:00", .args = "-debug", .service = true}, {"09:00:14.500 exit exit-timer"}},
      // A stop is delivered at the next processing of events, before the
      // configuration (missing here) is read.
      {"stop while settling", {.start = "2026-12-21 09:00", .service = true, .stop_at = "2026-12-21 09:01:00"},
       {"09:01:00.000 exit stop"}, false, ""},
      // Nothing armed, ExitAfterCheck 0: tmrDelay lapses at its first tick.
      {"stop while idle", {.start = "2026-12-21 09:00", .service = true, .stop_at = "2026-12-21 17:30"},
       {"17:30:00.000 exit stop"}, false, Ini("")},
      {"idle", {.start = "2026-12-21 09:00", .until = "2026-12-21 12:00"}, {"12:00:00.000 exit until"}, false, Ini("")},
      // A file that cannot be read ends the program, after the warning of a
      // file without its version.
      // The usual entry comes with one that says why and where.
      {"no file", {.service = true}, {"08:00:00.500" + failed, "08:00:00.500 event Kalmora: kalmora.ini: the file "
       "cannot be opened.", "08:00:00.500 exit config"}, true, ""},
      {"binary", {.service = true}, {"08:00:00.500 event Kalmora: Warning: The file kalmora.ini is not compatible with "
       "this version of Kalmora. Dazed and confused, but trying to continue.", "08:00:00.500" + failed,
       "08:00:00.500 event Kalmora: kalmora.ini: no line [ShutdownHolidays].", "08:00:00.500 exit config"}, true,
       "MZ\0\x90\0\x03\0\0\0\xff\xff"s},
      {"open quote", {.service = true}, {"08:00:00.500" + failed, "08:00:00.500 event Kalmora: kalmora.ini line 4: a "
       "quote in [MsgHolidays] is never closed.", "08:00:00.500 exit config"}, true,
       "[ShutdownHolidays]\r\n\r\n[MsgHolidays]\r\n24.12.####,\"a\r\n[GeneralOptions]\r\nVersion=1\r\n"},
      // Line ends inside a quoted field count, CR alone too.
      {"open quote after a field of three lines", {.service = true}, {"08:00:00.500" + failed, "08:00:00.500 event "
       "Kalmora: kalmora.ini line 7: a quote in [MsgHolidays] is never closed.", "08:00:00.500 exit config"}, true,
       "[ShutdownHolidays]\r\r[MsgHolidays]\r24.12.####,S,\"a\rb\r\nc\",M\r24.12.####,\"open\r[GeneralOptions]\rVersion=1\r"},
      {"version", {.service = true}, {"08:00:00.500" + failed, "08:00:00.500 event Kalmora: kalmora.ini line 2: Version "
       "is not a number.", "08:00:00.500 exit config"}, true, "[GeneralOptions]\r\nVersion=one\r\n"},
      // clang-format on
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    if (!c.ini.empty()) dir.Write("kalmora.ini", c.ini);
    SimRun run = RunSim(dir, c.setup);
    EXPECT_EQ(run.Lines({"event", "exit"}), c.end) << c.name;
    EXPECT_EQ(run.Lines({"service"}).back().ends_with("ReportServiceStopped"), c.stop_reported) << c.name;
    // An error (1) with the id of failures (109), or a warning (2) with that of reports (110).
    for (const auto& e : run.Of("event")) {
      const std::string text = e["text"];
      const bool failure = text == failed.substr(7) || text.starts_with("Kalmora: kalmora.ini");
      EXPECT_EQ(e["type"] == 1 && e["id"] == 109, failure) << text;
      EXPECT_EQ(e["type"] == 2 && e["id"] == 110, !failure) << text;
    }
  }
}

// One Kalmora per host: a second start beside the first ends before it
// reads or sends anything, the service manager refuses a second start of
// its own service, and a crashed service is restarted a minute later.
TEST(Startup, OneKalmoraPerHost) {
  const struct {
    const char* name;
    SimSetup setup;
    Strings lines;
    const char* general = "";  // [GeneralOptions]
  } cases[] = {
      // clang-format off
      {"sc start beside a start by hand", {.start = "2026-12-21 09:00", .until = "2026-12-21 12:00",
        .registered = true, .later = {{"2026-12-21 10:00", true}}},
       {"09:00:00.000 start", "10:00:00.000 StartService Kalmora", "10:00:00.000 start service",
        "10:00:00.000 error Kalmora: Kalmora is already running (process 4100); this start ends.",
        "10:00:00.500 exit already-running", "12:00:00.000 exit until"}},
      {"-debug beside the service", {.start = "2026-12-21 09:00", .service = true, .until = "2026-12-21 12:00",
        .later = {{"2026-12-21 10:00", false, "-debug"}}},
       {"09:00:00.000 start service", "10:00:00.000 start -debug",
        "10:00:00.000 error Kalmora: Kalmora is already running (process 4100); this start ends.",
        "10:00:00.000 msgbox Kalmora Kalmora is already running (process 4100); this start ends. warning",
        "10:00:00.000 exit already-running", "12:00:00.000 exit until"}},
      {"sc start while it runs", {.start = "2026-12-21 09:00", .service = true, .until = "2026-12-21 12:00",
        .later = {{"2026-12-21 10:00", true}}},
       {"09:00:00.000 start service", "10:00:00.000 StartService Kalmora An instance of the service is already running.",
        "12:00:00.000 exit until"}},
      // Killed: the service manager's recovery restarts it after a minute.
      {"killed", {.start = "2026-12-21 09:00", .service = true, .until = "2026-12-21 12:00",
        .kill_at = "2026-12-21 10:00"},
       {"09:00:00.000 start service", "10:00:00.000 exit killed", "10:00:00.000 ServiceFailed 1 restart after 60 s",
        "10:01:00.000 start service", "12:00:00.000 exit until"}},
      // The first start has ended: the second is the host's one Kalmora.
      {"after the first ended", {.start = "2026-12-21 09:00", .until = "2026-12-21 12:00",
        .later = {{"2026-12-21 10:00", false, "-debug"}}},
       {"09:00:00.000 start", "09:00:14.500 exit exit-timer", "10:00:00.000 start -debug", "10:00:14.500 exit exit-timer"},
       "ExitAfterCheck=1\n"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SimRun run = RunIni(Ini(c.general), c.setup);
    Strings lines;
    for (const auto& r : run.records) {
      const std::string kind = r["kind"], call = r.value("call", "");
      std::string line = testing::Lines({r}).at(0);  // "HH:MM:SS.mmm kind …"
      if (kind == "start" && r["service"]) line.insert(18, " service");
      if (kind == "start" || kind == "exit" || kind == "msgbox") lines.push_back(line);
      if (kind == "event" && r["type"] == 1) lines.push_back(line.replace(12, 6, " error"));
      if (call == "StartService" || call == "ServiceFailed") lines.push_back(line.erase(12, 8));
    }
    EXPECT_EQ(lines, c.lines) << c.name;
  }
}

}  // namespace
}  // namespace kalmora::testing
