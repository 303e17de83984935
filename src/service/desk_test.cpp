// At the desk on the simulated host: the countdown windows in the sessions,
// postpones, the wait while someone works and LatestShutdown.
#include <gtest/gtest.h>

#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

constexpr auto kPostpone = sim::Options::ClickKind::Postpone;
constexpr auto kOk = sim::Options::ClickKind::Ok;
constexpr auto kKill = sim::Options::ClickKind::Kill;

sim::LocalMs At(const std::string& hhmm) { return *sim::ParseTime("2026-12-24 " + hhmm); }
sim::Options::Session Session(const std::string& name, const std::string& from = "07:00",
                              const std::string& to = "23:59") {
  return {name, "USER" + name, At(from), At(to)};
}

// Christmas Eve, checked at 19:00 with a countdown of 30 minutes: each row
// gives the [Desktop] keys and the people, and expects the entries after the
// holiday entry, the halt's moment (or none) and the desk programs started.
TEST(Desk, CountdownPostponeAndIdleWait) {
  const std::string due = "Kalmora: The shutdown due at 19:30:10 ";
  const struct {
    const char* name;
    std::string desktop;
    SimSetup people;
    Strings entries;
    std::string halt;  // HH:MM:SS, empty for none
    int windows = 0, questions = 0;
  } cases[] = {
      // clang-format off
      {"no keys", "", {.sessions = {Session("a")}}, {}, "19:30:10"},
      // A window in each session, one more for a session that logs on
      // during the countdown; all ended at the halt.
      {"two sessions", "CountdownWindow=1", {.sessions = {Session("a"), Session("b", "19:15")}}, {}, "19:30:10", 2},
      // One postpone moves the halt; the same click in the other session
      // finds none left; the new windows have no postpone button.
      {"postpone", "CountdownWindow=1\nPostponeMinutes=30",
       {.sessions = {Session("a"), Session("b")},
        .clicks = {{"a", At("19:20"), kPostpone}, {"b", At("19:20"), kPostpone}}},
       {due + "was postponed by 30 minutes to 19:50:00 from session 1 (user USERa).",
        "Kalmora: A postpone of the shutdown due at 19:50:00 from session 2 (user USERb) was refused: no postpone is "
        "left."}, "19:50:00", 4},
      {"postpone to the latest", "CountdownWindow=1\nPostponeMinutes=30\nLatestShutdown=19:40",
       {.sessions = {Session("a")}, .clicks = {{"a", At("19:20"), kPostpone}}},
       {due + "was postponed to LatestShutdown to 19:40:00 from session 1 (user USERa).",
        due + "went ahead at LatestShutdown 19:40."}, "19:40:00", 2},
      // OK closes the window until the halt's last minute; one ended from
      // Task Manager comes back at once.
      {"ok", "CountdownWindow=1\nPostponeMinutes=30", {.sessions = {Session("a")}, .clicks = {{"a", At("19:05"), kOk}}},
       {}, "19:30:10", 2},
      {"killed", "CountdownWindow=1", {.sessions = {Session("a")}, .clicks = {{"a", At("19:05"), kKill}}},
       {"Kalmora: The countdown window in session 1 (user USERa) ended without an answer (status 0x1); it is shown "
        "again."}, "19:30:10", 2},
      // A listed program (named in another case) holds the halt, asked every
      // minute; the window then says what it waits for.
      {"program", "CountdownWindow=1\n[Holds]\nWhileRunning=robocopy.exe, Backup.EXE",
       {.sessions = {Session("a")}, .processes = {{"BACKUP.exe", At("18:00"), At("19:45"), 7004}}},
       {due + "waits: BACKUP.exe (process 7004) runs.", due + "goes ahead: BACKUP.exe (process 7004) has ended."},
       "19:45:10", 2},
      {"updates to the latest", "LatestShutdown=20:00\n[Holds]\nWhileUpdating=1",
       {.servicing = {{"2026-12-24 19:00", "2026-12-24 21:00"}}},
       {due + "waits: Windows installs updates (the service TrustedInstaller runs).",
        due + "went ahead at LatestShutdown 20:00."}, "20:00:00"},
      {"program past midnight", "[Holds]\nWhileRunning=backup.exe",
       {.processes = {{"backup.exe", At("18:00"), At("23:59") + 7200000, 7004}}},
       {due + "waits: backup.exe (process 7004) runs.",
        due + "was given up for today: backup.exe (process 7004) runs."}, ""},
      // Input until 19:40, ten idle minutes wanted: asked every minute
      // from 19:30:10, and the halt comes at the first tick after 19:50.
      {"idle wait", "IdleMinutes=10", {.sessions = {Session("a")}, .inputs = {{"a", At("19:00"), At("19:40")}}},
       {due + "waits: session 1 (user USERa) had input just now.",
        due + "goes ahead: every session has been idle for 10 minutes."}, "19:50:10", 0, 21},
      {"idle until the latest", "IdleMinutes=10\nLatestShutdown=22:00",
       {.sessions = {Session("a")}, .inputs = {{"a", At("19:00"), At("23:00")}}},
       {due + "waits: session 1 (user USERa) had input just now.", due + "went ahead at LatestShutdown 22:00."},
       "22:00:00", 0, 150},
      // Without a latest time the wait gives the halt up at midnight.
      {"idle past midnight", "IdleMinutes=10",
       {.sessions = {{"a", "USERa", At("07:00"), At("23:59") + 7200000}},
        .inputs = {{"a", At("19:00"), At("23:59") + 7200000}}},
       {due + "waits: session 1 (user USERa) had input just now.",
        due + "was given up for today: session 1 (user USERa) had input just now."}, "", 0, 270},
      // clang-format on
  };
  for (const auto& c : cases) {
    SimSetup setup = c.people;
    setup.start = "2026-12-24 19:00";
    setup.until = "2026-12-25 00:30";
    SimRun run =
        RunIni(Ini("ShutdownEnabled=1\nShutdownDelay=1800\nExitAfterCheck=1\n", "24.12.#### = Christmas Eve\n") +
                   Crlf("[Desktop]\n" + c.desktop + "\n"),
               setup);
    Strings entries = run.Texts("event");
    std::erase_if(entries, [](const std::string& text) {
      return text.starts_with("Kalmora: Today is holiday") || text.starts_with("Kalmora: The system is going down");
    });
    EXPECT_EQ(entries, c.entries) << c.name;
    const auto halts = run.Of("halt");
    EXPECT_EQ(halts.empty() ? "" : halts[0]["t"].get<std::string>().substr(11, 8), c.halt) << c.name;
    int windows = 0, questions = 0, ended = 0;
    for (const auto& r : run.Of("desk")) ++(r["args"] == "--idle" ? questions : windows);
    for (const auto& r : run.Of("end"))
      ended += r["cmd"].get<std::string>().starts_with("kalmora-desk.exe --countdown");
    EXPECT_EQ(windows, c.windows) << c.name;
    EXPECT_EQ(questions, c.questions) << c.name;
    EXPECT_EQ(ended, windows) << c.name << ": every window ends, at the latest with the halt";
  }
}

}  // namespace
}  // namespace kalmora::testing
