// Start-up on the simulated host: the command line, the service start and
// its waits, the configuration failure and the exit timer.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

// Ends 4.5 s after the check, so the check's moment shows in the exit time.
const std::string kExitAfterCheck = Ini("ExitAfterCheck=1\n");

std::vector<std::string> ServiceCalls(const SimRun& run) {
  std::vector<std::string> calls;
  for (const auto& r : run.Of("service")) calls.push_back(r["call"].get<std::string>());
  return calls;
}

struct CommandCase {
  std::string args;
  std::string text;
  std::string icon;
  std::vector<std::string> calls;
};

class CommandLine : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandLine, ShowsItsMessageAndEnds) {
  ScratchDir dir;
  dir.Write("kalmora.ini", kExitAfterCheck);
  SimRun run = RunSim(dir, {.args = GetParam().args, .service = false});
  auto boxes = run.Of("msgbox");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0]["caption"], "Kalmora");
  EXPECT_EQ(boxes[0]["text"], GetParam().text);
  EXPECT_EQ(boxes[0]["icon"], GetParam().icon);
  EXPECT_EQ(ServiceCalls(run), GetParam().calls);
  EXPECT_EQ(run.Exit()["reason"], "command");
  EXPECT_EQ(run.Exit()["t"], "2026-12-24 07:58:00.000");
  EXPECT_TRUE(run.Events().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLine,
    ::testing::Values(
        CommandCase{"-install", "Kalmora Service successfully installed!", "information",
                    {"SetInteractiveDesktop", "SetStartType", "RegisterService"}},
        CommandCase{"-uninstall", "Kalmora Service successfully uninstalled!", "information", {"UnregisterService"}},
        // The comparison is exact: case, further words and blanks all count.
        CommandCase{"-INSTALL", "Invalid command line parameter.", "none", {}},
        CommandCase{"-install x", "Invalid command line parameter.", "none", {}},
        CommandCase{" -debug", "Invalid command line parameter.", "none", {}},
        CommandCase{"/install", "Invalid command line parameter.", "none", {}}));

TEST(Install, PassesInteractiveAndAutomaticStart) {
  ScratchDir dir;
  SimRun run = RunSim(dir, {.args = "-install"});
  auto calls = run.Of("service");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0]["arg"], true);
  EXPECT_EQ(calls[1]["arg"], 2);
  EXPECT_EQ(calls[2]["result"], true);
}

struct WaitCase {
  const char* name;
  std::string args;
  bool service;
  const char* check_at;  // when the configuration was read and checked
};

class StartWaits : public ::testing::TestWithParam<WaitCase> {};

TEST_P(StartWaits, ReadTheConfigurationWhenTheWaitsAreOver) {
  ScratchDir dir;
  dir.Write("kalmora.ini", kExitAfterCheck);
  SimRun run = RunSim(dir, {.start = "2026-12-21 09:00", .args = GetParam().args, .service = GetParam().service});
  // The exit timer runs 4.5 s after the check.
  auto check = sim::ParseTime(GetParam().check_at).value();
  EXPECT_EQ(run.Exit()["reason"], "exit-timer");
  EXPECT_EQ(run.Exit()["t"], sim::FormatTime(check + 4500));
  // The exit timer tells the service manager before the program ends.
  auto calls = ServiceCalls(run);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "ReportServiceStopped");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, StartWaits,
    ::testing::Values(
        // By hand: no service manager answers, the start wait runs its ten
        // seconds and no settling wait follows.
        WaitCase{"ByHand", "", false, "2026-12-21 09:00:10.000"},
        // Under the service manager: running half a second in, then two
        // minutes of settling.
        WaitCase{"ServiceManager", "", true, "2026-12-21 09:02:00.500"},
        // Debug mode never connects, even when the service manager started us.
        WaitCase{"DebugUnderServiceManager", "-debug", true, "2026-12-21 09:00:10.000"},
        WaitCase{"DebugByHand", "-debug", false, "2026-12-21 09:00:10.000"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StartWaits, SettlingAcrossMidnightEndsOnElapsedTime) {
  ScratchDir dir;
  dir.Write("kalmora.ini", kExitAfterCheck);
  SimRun run = RunSim(dir, {.start = "2026-12-21 23:59:30", .service = true});
  EXPECT_EQ(run.Exit()["t"], "2026-12-22 00:01:35.000");
}

TEST(ServiceEvents, StopDuringSettlingEndsBeforeTheConfigurationIsRead) {
  ScratchDir dir;  // no kalmora.ini: reading it would log an error
  SimRun run = RunSim(dir, {.start = "2026-12-21 09:00", .service = true, .stop_at = "2026-12-21 09:01:00"});
  EXPECT_EQ(run.Exit()["reason"], "stop");
  // Delivered at the next processing of events, at most one wait cycle later.
  EXPECT_EQ(run.Exit()["t"], "2026-12-21 09:01:00.000");
  EXPECT_TRUE(run.Events().empty());
  for (const auto& call : ServiceCalls(run)) EXPECT_NE(call, "ReportServiceStopped");
}

TEST(ServiceEvents, StopWhileIdleEndsTheProgram) {
  ScratchDir dir;
  dir.Write("kalmora.ini", Ini(""));  // nothing armed, ExitAfterCheck 0: tmrDelay lapses at its first tick
  SimRun run = RunSim(dir, {.start = "2026-12-21 09:00", .service = true, .stop_at = "2026-12-21 17:30"});
  EXPECT_EQ(run.Exit()["reason"], "stop");
  EXPECT_EQ(run.Exit()["t"], "2026-12-21 17:30:00.000");
}

TEST(ServiceEvents, NothingArmedAndNoExitIdlesUntilTheEnd) {
  ScratchDir dir;
  dir.Write("kalmora.ini", Ini(""));
  SimRun run = RunSim(dir, {.start = "2026-12-21 09:00", .until = "2026-12-21 12:00"});
  EXPECT_EQ(run.Exit()["reason"], "until");
  EXPECT_EQ(run.Exit()["t"], "2026-12-21 12:00:00.000");
}

struct BadIniCase {
  const char* name;
  bool write;
  std::string content;
};

class ConfigurationFailure : public ::testing::TestWithParam<BadIniCase> {};

TEST_P(ConfigurationFailure, LogsStopsTheServiceAndEnds) {
  ScratchDir dir;
  if (GetParam().write) dir.Write("kalmora.ini", GetParam().content);
  SimRun run = RunSim(dir, {.start = "2026-12-24 07:58", .service = true});
  auto events = run.Of("event");
  ASSERT_FALSE(events.empty());
  const auto& last = events.back();
  EXPECT_EQ(last["type"], 1);
  EXPECT_EQ(last["id"], 109);
  EXPECT_EQ(last["text"],
            "Kalmora: Error while reading kalmora.ini. The file is probably missing or corrupt. "
            "The service will now terminate.");
  EXPECT_EQ(last["t"], "2026-12-24 08:00:00.500");
  EXPECT_EQ(ServiceCalls(run).back(), "ReportServiceStopped");
  EXPECT_EQ(run.Exit()["reason"], "config");
  EXPECT_TRUE(run.Of("mail").empty());
  EXPECT_TRUE(run.Of("halt").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, ConfigurationFailure,
    ::testing::Values(BadIniCase{"Missing", false, ""}, BadIniCase{"Empty", true, ""},
                      BadIniCase{"VersionNotANumber", true, Crlf("[GeneralOptions]\nVersion=one\n")},
                      BadIniCase{"NoHolidayLists", true, Crlf("[GeneralOptions]\nVersion=1\nShutdownEnabled=1\n")},
                      BadIniCase{"Binary", true, std::string("MZ\0\x90\0\x03\0\0\0\xff\xff", 12)}),
    [](const auto& info) { return std::string(info.param.name); });

// After midnight a countdown that aimed past it runs the start-up again:
// under the service manager that repeats the settling wait but not the
// connection, and the new day is decided afresh.
TEST(Rerun, AfterMidnightSettlesAgainWithoutReconnecting) {
  ScratchDir dir;
  dir.Write("kalmora.ini", Ini("ShutdownEnabled=1\nShutdownDelay=600\n", "24.12.#### = Christmas Eve\n"));
  SimRun run = RunSim(dir, {.start = "2026-12-24 23:50", .service = true, .until = "2026-12-25 01:00"});
  auto calls = ServiceCalls(run);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "ConnectServiceManager"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "SetAcceptedControls"), 1);
  auto events = run.Events();
  ASSERT_EQ(events.size(), 1u);  // 25 December is no holiday here
  EXPECT_TRUE(run.Of("halt").empty());
  // The first tick after midnight restarts; tmrDelay is off during the new
  // settling wait and lapses at its first tick after the new check, so the
  // program stays idle.
  EXPECT_EQ(run.Exit()["reason"], "until");
}

}  // namespace
}  // namespace kalmora::testing
