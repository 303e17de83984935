// What the halt does: the forced shutdown of old without the new keys, a
// planned shutdown, hibernation or sleep where the host can, updates
// installed on the way down, and the forced shutdown whenever a newer call
// fails; a suspended host that resumes decides afresh.
#include <gtest/gtest.h>

#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

// Each entry and each halt call of a run, as "HH:MM:SS what".
Strings Brief(const SimRun& run) {
  Strings out;
  for (const auto& r : run.records) {
    const std::string kind = r["kind"];
    if (kind != "event" && kind != "halt") continue;
    std::string line = sim::FormatReadable(r);
    line = line.substr(0, line.find('\n'));
    const std::string what = kind == "event" ? r["text"].get<std::string>() : line.substr(line.find(" halt ") + 10);
    out.push_back(r["t"].get<std::string>().substr(11, 8) + " " + what);
  }
  return out;
}

TEST(Halt, EachActionWithAndWithoutWhatItNeeds) {
  const std::string holiday = "07:58:10 Kalmora: Today is holiday 'Christmas Eve'. ";
  const std::string plain = holiday + "The host will shut down in 180 seconds.";
  const std::string forced = "08:01:10 Kalmora: The system is going down for system halt NOW!";
  const std::string exit_windows = "08:01:10 ExitWindowsEx(flags 5, reason 0xFFFFFFFF)";
  const std::string planned =
      "08:01:10 InitiateShutdownW(flags 0xB, reason 0x80000000, \"Kalmora: holiday 'Christmas Eve'\")";
  const std::string now_down = "08:01:10 Kalmora: Now the host shuts down.";
  const std::string decided = "07:58:10 Kalmora " + std::string(kVersionText) +
                              " (configuration unknown) on SIMHOST decided 2026-12-24: holiday 'Christmas Eve', "
                              "shutdown at ";
  const PowerCapabilities none{}, hibernate_only{true, false};
  const struct {
    const char* name;
    std::string keys;
    SimSetup setup;
    Strings brief;
    std::string scheduled = {};
  } cases[] = {
      // clang-format off
      {"no keys", "", {}, {plain, forced, exit_windows}},
      {"InstallUpdates without pending updates", "InstallUpdates=1", {}, {plain, forced, exit_windows}},
      {"unknown action", "ShutdownAction=off", {},
       {"07:58:10 Kalmora: ShutdownAction=off is not shutdown, hibernate or sleep; the host is halted the forced way.",
        plain, forced, exit_windows}},
      {"shutdown", "ShutdownAction=shutdown", {}, {plain, now_down, planned}},
      {"hibernate", "ShutdownAction=Hibernate", {},
       {holiday + "In 180 seconds the host goes into hibernation; open programs stay as they are.",
        "08:01:10 Kalmora: Now the host goes into hibernation; open programs stay as they are.",
        "08:01:10 SetSuspendState(hibernate)"}},
      {"hibernate where it cannot", "ShutdownAction=hibernate", {.power = none},
       {plain, "08:01:10 Kalmora: Hibernation is not available on this host; it shuts down instead.", now_down, planned}},
      {"sleep", "ShutdownAction=sleep", {},
       {holiday + "In 180 seconds the host goes to sleep.", "08:01:10 Kalmora: Now the host goes to sleep.",
        "08:01:10 SetSuspendState(sleep)"}},
      {"sleep where it cannot", "ShutdownAction=sleep", {.power = hibernate_only},
       {plain, "08:01:10 Kalmora: Sleep is not available on this host; it shuts down instead.", now_down, planned}},
      // Waiting updates win over hibernation.
      {"updates pending", "ShutdownAction=hibernate\nInstallUpdates=1", {.updates_pending = true},
       {holiday + "In 180 seconds the host installs updates and shuts down.",
        "08:01:10 Kalmora: Now the host installs updates and shuts down.",
        "08:01:10 InitiateShutdownW(flags 0x4B, reason 0x80000000, \"Kalmora: holiday 'Christmas Eve'\")"}},
      // A call that fails never leaves the host up.
      {"InitiateShutdownW fails", "ShutdownAction=shutdown", {.without = {"InitiateShutdownW"}},
       {plain, now_down, planned + "   (failed: The request is not supported. (error 50))",
        "08:01:10 Kalmora: InitiateShutdownW failed: The request is not supported. (error 50). The host is shut down "
        "the forced way instead.", exit_windows}},
      {"SetSuspendState fails", "ShutdownAction=sleep", {.without = {"SetSuspendState"}},
       {holiday + "In 180 seconds the host goes to sleep.", "08:01:10 Kalmora: Now the host goes to sleep.",
        "08:01:10 SetSuspendState(sleep)   (failed: The request is not supported. (error 50))",
        "08:01:10 Kalmora: SetSuspendState failed: The request is not supported. (error 50). The host is shut down "
        "the forced way instead.", exit_windows}},
      // Woken at 10:00 on the holiday, the host starts as on any holiday
      // morning: the day's rules halt it again.
      {"woken on the holiday", "ShutdownAction=sleep\nDailyReport=1", {.wakes = {"2026-12-24 10:00"}},
       {holiday + "In 180 seconds the host goes to sleep.", decided + "08:01:10.",
        "08:01:10 Kalmora: Now the host goes to sleep.", "08:01:10 SetSuspendState(sleep)",
        "10:00:00 Kalmora: The host has resumed from its halt; the day is decided afresh.",
        "10:00:11 Kalmora: Today is holiday 'Christmas Eve'. In 180 seconds the host goes to sleep.",
        "10:00:11 Kalmora " + kVersionText + decided.substr(decided.find(" (")) + "10:03:11.",
        "10:03:11 Kalmora: Now the host goes to sleep.", "10:03:11 SetSuspendState(sleep)"}},
      // A scheduled halt, on a working day: woken after its time, the host
      // stays up; the fallback's comment names the schedule.
      {"scheduled, woken after it", "ShutdownAction=hibernate",
       {.start = "2026-12-22 07:58", .wakes = {"2026-12-22 09:00"}},
       {"08:15:00 Kalmora: A scheduled shutdown will take place in 900 seconds: the host goes into hibernation; open "
        "programs stay as they are.",
        "08:30:00 Kalmora: Now the host goes into hibernation; open programs stay as they are.",
        "08:30:00 SetSuspendState(hibernate)",
        "09:00:00 Kalmora: The host has resumed from its halt; the day is decided afresh."},
       "ScheduledShutdown=1\nScheduledShutdownTime=08:30\nScheduledShutdownDays=12345"},
      {"scheduled, sleep where it cannot", "ShutdownAction=sleep", {.start = "2026-12-22 07:58", .power = none},
       {"08:15:00 Kalmora: A scheduled shutdown will take place in 900 seconds.",
        "08:30:00 Kalmora: Sleep is not available on this host; it shuts down instead.",
        "08:30:00 Kalmora: Now the host shuts down.",
        "08:30:00 InitiateShutdownW(flags 0xB, reason 0x80000000, \"Kalmora: scheduled shutdown\")"},
       "ScheduledShutdown=1\nScheduledShutdownTime=08:30\nScheduledShutdownDays=12345"},
      // clang-format on
  };
  for (const auto& c : cases) {
    const SimRun run = RunIni(Ini("ShutdownEnabled=1\nExitAfterCheck=1\n" + c.keys + "\n",
                                  "24.12.#### = Christmas Eve\n", "", "", c.scheduled),
                              c.setup);
    EXPECT_EQ(Brief(run), c.brief) << c.name;
  }
}

}  // namespace
}  // namespace kalmora::testing
