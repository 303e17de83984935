#include "updater/frm_zorvane.h"

#include <gtest/gtest.h>

#include <functional>

#include "sim_fixture.h"
#include "update/versions.h"

namespace kalmora::testing {
namespace {

TEST(ZorvaneArguments, SwitchAndName) {
  const struct {
    const char* args;
    bool is_switch;
    const char* name;  // null: no usable name
  } cases[] = {
      // clang-format off
      {"-updateexe kalmora", true, "kalmora"}, {"-UPDATEEXE Kalmora", true, "kalmora"},
      {"-updateexekalmora", true, "kalmora"}, {"-UpdateExe   KALMORA  ", true, "kalmora"},
      {"-updateexe", true, nullptr}, {"-updateexe    ", true, nullptr},
      {" -updateexe kalmora", false, nullptr},  // the first 10 characters: " -updateex"
      {"", false, nullptr}, {"-update kalmora", false, nullptr}, {"/updateexe kalmora", false, nullptr},
      {"-updateex kalmora", false, nullptr},
      // Names that would reach elsewhere or start another program.
      {"-updateexe ..\\kalmora", true, nullptr}, {"-updateexe c:kalmora", true, nullptr},
      {"-updateexe sub/kalmora", true, nullptr}, {"-updateexe kal mora", true, nullptr},
      {"-updateexe \"kalmora\"", true, nullptr}, {"-updateexe kalmora\t", true, nullptr},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsUpdateSwitch(c.args), c.is_switch) << '"' << c.args << '"';
    // The name is only formed after the switch.
    if (c.is_switch) {
      EXPECT_EQ(ProgramName(c.args).value_or("<none>"), c.name ? c.name : "<none>") << c.args;
    }
  }
}

const std::string kOld = MakeStandInExecutable({1, 0, 5}, "kalmora");
const std::string kNew = MakeStandInExecutable({1, 0, 6}, "kalmora");
const std::string kSwap = "zorvane file rename kalmora.exe.new kalmora.exe";
const std::string kStart = "zorvane spawn kalmora.exe", kDone = "zorvane exit done";

// Zorvane alone on the simulated host, started at 10:00:00 in a directory
// with kalmora.exe 1.0.5 and kalmora.exe.new 1.0.6, unless `setup` changes
// that; the lines of its records, and what kalmora.exe holds at the end.
std::pair<Strings, std::string> Swap(const std::string& args,
                                     const std::function<void(const ScratchDir&, sim::SimHost&)>& setup = {}) {
  ScratchDir dir;
  dir.Write("kalmora.exe", kOld);
  dir.Write("kalmora.exe.new", kNew);
  DirectHost d(dir, "2026-12-24 10:00", "zorvane", args);
  if (setup) setup(dir, d.host);
  const bool offered = dir.Exists("kalmora.exe.new");
  try {
    RunZorvane(d.host);
  } catch (const ProgramEnded& e) {
    EXPECT_EQ(e.reason, ExitReason::Done);
  }
  const std::string exe = dir.Exists("kalmora.exe") ? dir.Read("kalmora.exe") : "<none>";
  EXPECT_TRUE(LooksLikeWindowsExecutable(exe));
  EXPECT_EQ(dir.Exists("kalmora.exe.new"), offered && exe != kNew) << "a new file goes only by the swap";
  return {Lines(d.world.records()), exe};
}

// The swap itself, three seconds in, shows in the online update's tests.
TEST(Zorvane, WithoutAUsableNewFileStartsTheOldProgram) {
  const auto started = std::pair{Strings{"10:00:03.000 " + kStart, "10:00:03.000 " + kDone}, kOld};
  EXPECT_EQ(Swap("-updateexe kalmora", [](const ScratchDir& dir, sim::SimHost&) { dir.Remove("kalmora.exe.new"); }),
            started);
  // An error page, and a program file damaged after Kalmora checked it.
  for (const std::string& unusable : {std::string("<html>404</html>"), kNew.substr(0, kNew.size() - 1)}) {
    EXPECT_EQ(Swap("-updateexe kalmora",
                   [&](const ScratchDir& dir, sim::SimHost&) { dir.Write("kalmora.exe.new", unusable); }),
              started);
  }
  // A missing program file is replaced by the new one.
  EXPECT_EQ(Swap("-updateexe kalmora", [](const ScratchDir& dir, sim::SimHost&) { dir.Remove("kalmora.exe"); }),
            std::pair(Strings{"10:00:03.000 " + kSwap, "10:00:03.000 " + kStart, "10:00:03.000 " + kDone}, kNew));
}

TEST(Zorvane, WithoutTheSwitchOrANameTouchesNothing) {
  for (const char* args : {"", "kalmora", "-update kalmora", " -updateexe kalmora"}) {
    EXPECT_EQ(Swap(args), std::pair(Strings{"10:00:00.000 " + kDone}, kOld)) << args;
  }
  for (const char* args : {"-updateexe ..\\kalmora", "-updateexe"}) {
    EXPECT_EQ(Swap(args), std::pair(Strings{"10:00:03.000 " + kDone}, kOld)) << args;
  }
}

TEST(Zorvane, LockedProgramFileIsTriedOnceASecond) {
  // The old program lets go of its file after 5 more seconds.
  auto [lines, exe] = Swap("-updateexe kalmora", [](const ScratchDir&, sim::SimHost& h) {
    h.LockFile("kalmora.exe", *sim::ParseTime("2026-12-24 10:00:08"));
  });
  Strings expected;
  for (int s = 3; s < 8; ++s) expected.push_back("10:00:0" + std::to_string(s) + ".000 " + kSwap + " failed");
  expected.insert(expected.end(), {"10:00:08.000 " + kSwap, "10:00:08.000 " + kStart, "10:00:08.000 " + kDone});
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(exe, kNew);
}

TEST(Zorvane, FileLockedForGoodStillEndsAndStartsTheOldProgram) {
  auto [lines, exe] = Swap("-updateexe kalmora", [](const ScratchDir&, sim::SimHost& h) { h.LockFile("kalmora.exe"); });
  ASSERT_EQ(lines.size(), static_cast<size_t>(frmZorvane::kSwapAttempts) + 2);
  EXPECT_EQ(lines[0], "10:00:03.000 " + kSwap + " failed");
  EXPECT_EQ(Strings(lines.end() - 3, lines.end()),
            (Strings{"10:00:32.000 " + kSwap + " failed", "10:00:32.000 " + kStart, "10:00:32.000 " + kDone}));
  EXPECT_EQ(exe, kOld);
}

}  // namespace
}  // namespace kalmora::testing
