#include "updater/frm_zorvane.h"

#include <gtest/gtest.h>

#include "config/rules.h"
#include "sim_fixture.h"
#include "update/versions.h"

namespace kalmora::testing {
namespace {

const std::string old_exe = MakeStandInExecutable({1, 0, 5}, "kalmora");
const std::string new_exe = MakeStandInExecutable({1, 0, 6}, "kalmora");

// Zorvane alone on the simulated host from 10:00:00, with kalmora.exe 1.0.5
// and kalmora.exe.new 1.0.6 unless a case says otherwise. Its records in
// brief: "SS what", a run of the same as "SS what xN".
TEST(Zorvane, SwapsOnlyAWholeFileAndAlwaysStartsAProgram) {
  const std::string swapped = "03 swap, 03 start, 03 done", no_switch = "00 done", no_name = "03 done";
  const struct {
    std::string args, brief;
    std::string offered = new_exe, old = old_exe;  // none when empty
    int locked_until = 0;                          // the second the old program lets go, -1 never
    // A service Kalmora registered for this kalmora.exe, and its state.
    std::optional<ServiceState> service = std::nullopt;
  } cases[] = {
      // clang-format off
      // The switch is the first 10 characters, trimmed, in any case; the
      // name all after them, trimmed, in lower case.
      {"-updateexe kalmora", swapped}, {"-UPDATEEXE Kalmora", swapped}, {"-updateexekalmora", swapped},
      {"-UpdateExe   KALMORA  ", swapped},
      {"", no_switch}, {"-update kalmora", no_switch}, {"/updateexe kalmora", no_switch},
      {"-updateex kalmora", no_switch}, {" -updateexe kalmora", no_switch},  // " -updateex"
      // No name, or one that would reach elsewhere or start another program.
      {"-updateexe", no_name}, {"-updateexe    ", no_name}, {"-updateexe ..\\kalmora", no_name},
      {"-updateexe c:kalmora", no_name}, {"-updateexe sub/kalmora", no_name}, {"-updateexe kal mora", no_name},
      {"-updateexe \"kalmora\"", no_name}, {"-updateexe kalmora\t", no_name},
      // A missing old program file is replaced all the same.
      {"-updateexe kalmora", swapped, new_exe, ""},
      // Nothing usable: none offered, an error page, a file damaged after
      // Kalmora checked it.
      {"-updateexe kalmora", "03 start, 03 done", ""},
      {"-updateexe kalmora", "03 start, 03 done", "<html>404</html>"},
      {"-updateexe kalmora", "03 start, 03 done", new_exe.substr(0, new_exe.size() - 1)},
      // The old program holds its file: tried once a second, 30 times at most.
      {"-updateexe kalmora", "03 swap failed x5, 08 swap, 08 start, 08 done", new_exe, old_exe, 8},
      {"-updateexe kalmora", "03 swap failed x30, 32 start, 32 done", new_exe, old_exe, -1},
      // Restarted the way it ran: through the service manager, once it sees
      // the old program stopped; asked again after 10 s, then an error entry.
      {"-updateexe kalmora", "03 swap, 03 restart, 03 done", new_exe, old_exe, 0, ServiceState::Stopped},
      {"-updateexe kalmora", "03 restart, 03 done", "", old_exe, 0, ServiceState::Stopped},
      {"-updateexe kalmora", "03 swap, 33 restart refused x2, 43 error, 43 done", new_exe, old_exe, 0,
       ServiceState::Running},
  };
  static const std::pair<const char*, const char*> brief[] = {
      {"file rename kalmora.exe.new kalmora.exe", "swap"}, {"spawn kalmora.exe", "start"}, {"exit done", "done"},
      {"service StartService Kalmora", "restart"},
      {"restart An instance of the service is already running.", "restart refused"},
      {"event Kalmora: The update helper could not start the service Kalmora after the program update: An instance of "
       "the service is already running.", "error"}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE('"' + c.args + "\": " + c.brief);
    ScratchDir dir;
    if (!c.old.empty()) dir.Write("kalmora.exe", c.old);
    if (!c.offered.empty()) dir.Write("kalmora.exe.new", c.offered);
    DirectHost d(dir, "2026-12-24 10:00", "zorvane", c.args, c.service.has_value());
    if (c.service) d.world.SetServiceState(*c.service);
    const sim::LocalMs until = *sim::ParseTime("2026-12-24 10:00") + c.locked_until * 1000;
    if (c.locked_until) d.host.LockFile("kalmora.exe", c.locked_until < 0 ? std::nullopt : std::optional(until));
    try {
      RunZorvane(d.host);
    } catch (const ProgramEnded&) {  // how it ended is its last record
    }
    std::vector<std::pair<std::string, int>> runs;
    for (const std::string& line : Lines(d.world.records())) {
      std::string what = line.substr(21);
      for (auto [from, to] : brief) what = ReplaceAll(what, from, to);
      if (runs.empty() || runs.back().first.substr(3) != what) runs.emplace_back(line.substr(6, 2) + " " + what, 0);
      ++runs.back().second;
    }
    std::string got;
    for (const auto& [what, n] : runs) got += ", " + what + (n > 1 ? " x" + std::to_string(n) : "");
    EXPECT_EQ(got.substr(2), c.brief);
    const bool swap = c.brief.find(" swap,") != std::string::npos;
    EXPECT_EQ(dir.Read("kalmora.exe"), swap ? new_exe : c.old);
    EXPECT_EQ(dir.Exists("kalmora.exe.new"), !c.offered.empty() && !swap) << "a new file goes only by the swap";
  }
}

// The registered command line runs this program file: quoted or not, with
// arguments or not, in any case and with either slash.
TEST(Zorvane, KnowsItsServiceByTheProgramFile) {
  const std::string exe = "C:\\Program Files\\Kalmora\\kalmora.exe";
  // clang-format off
  const std::pair<std::string, bool> cases[] = {
      {'"' + exe + '"', true}, {exe, true}, {"  \"c:/program files/kalmora/KALMORA.EXE\" -x", true},
      {exe + " -x", true}, {'"' + exe, false}, {exe + ".new", false}, {"\"C:\\Other\\kalmora.exe\"", false},
      {exe.substr(0, exe.size() - 4), false}, {"", false}};
  // clang-format on
  for (const auto& [line, same] : cases) EXPECT_EQ(ServiceRunsProgram(line, exe), same) << line;
}

}  // namespace
}  // namespace kalmora::testing
