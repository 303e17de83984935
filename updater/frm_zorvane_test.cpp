#include "updater/frm_zorvane.h"

#include <gtest/gtest.h>

#include <functional>

#include "host/sim/sim_host.h"
#include "sim_fixture.h"
#include "update/versions.h"

namespace kalmora {
namespace {

using testing::ScratchDir;

TEST(ZorvaneArguments, SwitchAndName) {
  struct {
    const char* args;
    bool is_switch;
    const char* name;  // null: no usable name
  } cases[] = {
      {"-updateexe kalmora", true, "kalmora"},
      {"-UPDATEEXE Kalmora", true, "kalmora"},
      {"-updateexekalmora", true, "kalmora"},
      {"-UpdateExe   KALMORA  ", true, "kalmora"},
      {"-updateexe", true, nullptr},
      {"-updateexe    ", true, nullptr},
      {" -updateexe kalmora", false, nullptr},  // the first 10 characters: " -updateex"
      {"", false, nullptr},
      {"-update kalmora", false, nullptr},
      {"/updateexe kalmora", false, nullptr},
      {"-updateex kalmora", false, nullptr},
      {"-install", false, nullptr},
      // Names that would reach elsewhere or start another program.
      {"-updateexe ..\\kalmora", true, nullptr},
      {"-updateexe c:kalmora", true, nullptr},
      {"-updateexe sub/kalmora", true, nullptr},
      {"-updateexe kal mora", true, nullptr},
      {"-updateexe \"kalmora\"", true, nullptr},
      {"-updateexe kalmora\t", true, nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsUpdateSwitch(c.args), c.is_switch) << '"' << c.args << '"';
    if (!c.is_switch) continue;  // the name is never formed
    auto name = ProgramName(c.args);
    if (c.name) {
      EXPECT_EQ(name.value_or("<none>"), c.name) << '"' << c.args << '"';
    } else {
      EXPECT_FALSE(name) << '"' << c.args << "\" gave " << *name;
    }
  }
}

// Zorvane alone on the simulated host, started at 10:00:00.
class Zorvane : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("kalmora.exe", old_exe_);
    dir_.Write("kalmora.exe.new", new_exe_);
  }
  std::vector<sim::Record> Run(const std::string& args, const std::function<void(sim::SimHost&)>& setup = {}) {
    sim::Options o;
    o.work_dir = dir_.path();
    o.start = *sim::ParseTime("2026-12-24 10:00");
    o.until = o.start + 3600 * 1000;
    sim::World world(o);
    sim::SimHost host(world, "zorvane", args, false);
    if (setup) setup(host);
    try {
      RunZorvane(host);
    } catch (const ProgramEnded& e) {
      EXPECT_EQ(e.reason, ExitReason::Done);
    }
    EXPECT_TRUE(LooksLikeWindowsExecutable(dir_.Read("kalmora.exe")));
    return world.records();
  }
  static std::string Line(const sim::Record& r) {
    std::string s = r["t"].get<std::string>().substr(11) + " " + r["kind"].get<std::string>();
    for (const char* f : {"op", "name", "to", "cmd", "reason"}) {
      if (r.contains(f)) s += " " + r[f].get<std::string>();
    }
    if (r.contains("ok")) s += r["ok"] == true ? " ok" : " failed";
    return s;
  }
  static std::vector<std::string> Lines(const std::vector<sim::Record>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) out.push_back(Line(r));
    return out;
  }

  ScratchDir dir_;
  const std::string old_exe_ = MakeStandInExecutable({1, 0, 5}, "kalmora");
  const std::string new_exe_ = MakeStandInExecutable({1, 0, 6}, "kalmora");
};

TEST_F(Zorvane, SwapsAfterThreeSecondsAndStartsTheProgram) {
  for (const char* args : {"-updateexe kalmora", "-UPDATEEXE Kalmora", "-updateexekalmora"}) {
    dir_.Write("kalmora.exe", old_exe_);
    dir_.Write("kalmora.exe.new", new_exe_);
    EXPECT_EQ(Lines(Run(args)),
              (std::vector<std::string>{"10:00:03.000 file rename kalmora.exe.new kalmora.exe ok",
                                        "10:00:03.000 spawn kalmora.exe ok", "10:00:03.000 exit done"}))
        << args;
    EXPECT_EQ(dir_.Read("kalmora.exe"), new_exe_);
    EXPECT_FALSE(dir_.Exists("kalmora.exe.new"));
  }
}

TEST_F(Zorvane, WrongSwitchEndsAtOnce) {
  for (const char* args : {"", "kalmora", "-update kalmora", " -updateexe kalmora"}) {
    EXPECT_EQ(Lines(Run(args)), std::vector<std::string>{"10:00:00.000 exit done"}) << args;
  }
  EXPECT_EQ(dir_.Read("kalmora.exe"), old_exe_);
}

TEST_F(Zorvane, UnusableNameTouchesNothing) {
  EXPECT_EQ(Lines(Run("-updateexe ..\\kalmora")), std::vector<std::string>{"10:00:03.000 exit done"});
  EXPECT_EQ(Lines(Run("-updateexe")), std::vector<std::string>{"10:00:03.000 exit done"});
  EXPECT_EQ(dir_.Read("kalmora.exe"), old_exe_);
}

TEST_F(Zorvane, WithoutANewFileStartsTheOldProgram) {
  std::filesystem::remove(dir_.path() + "/kalmora.exe.new");
  EXPECT_EQ(Lines(Run("-updateexe kalmora")),
            (std::vector<std::string>{"10:00:03.000 spawn kalmora.exe ok", "10:00:03.000 exit done"}));
  EXPECT_EQ(dir_.Read("kalmora.exe"), old_exe_);
}

TEST_F(Zorvane, ANewFileThatIsNoExecutableIsLeftAlone) {
  dir_.Write("kalmora.exe.new", "<html>404</html>");
  EXPECT_EQ(Lines(Run("-updateexe kalmora")),
            (std::vector<std::string>{"10:00:03.000 spawn kalmora.exe ok", "10:00:03.000 exit done"}));
  EXPECT_EQ(dir_.Read("kalmora.exe"), old_exe_);
}

TEST_F(Zorvane, MissingProgramFileIsReplacedByTheNewOne) {
  std::filesystem::remove(dir_.path() + "/kalmora.exe");
  auto lines = Lines(Run("-updateexe kalmora"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "10:00:03.000 file rename kalmora.exe.new kalmora.exe ok");
  EXPECT_EQ(dir_.Read("kalmora.exe"), new_exe_);
}

TEST_F(Zorvane, LockedProgramFileIsTriedOnceASecond) {
  // The old program lets go of its file after 5 more seconds.
  auto lines = Lines(Run("-updateexe kalmora",
                         [](sim::SimHost& h) { h.LockFile("kalmora.exe", *sim::ParseTime("2026-12-24 10:00:08")); }));
  ASSERT_EQ(lines.size(), 8u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(lines[i], "10:00:0" + std::to_string(3 + i) + ".000 file rename kalmora.exe.new kalmora.exe failed");
  }
  EXPECT_EQ(lines[5], "10:00:08.000 file rename kalmora.exe.new kalmora.exe ok");
  EXPECT_EQ(lines[6], "10:00:08.000 spawn kalmora.exe ok");
  EXPECT_EQ(dir_.Read("kalmora.exe"), new_exe_);
}

TEST_F(Zorvane, FileLockedForGoodStillEndsAndStartsTheOldProgram) {
  auto lines = Lines(Run("-updateexe kalmora", [](sim::SimHost& h) { h.LockFile("kalmora.exe"); }));
  ASSERT_EQ(lines.size(), static_cast<size_t>(frmZorvane::kSwapAttempts) + 2);
  EXPECT_EQ(lines[0], "10:00:03.000 file rename kalmora.exe.new kalmora.exe failed");
  EXPECT_EQ(lines[29], "10:00:32.000 file rename kalmora.exe.new kalmora.exe failed");
  EXPECT_EQ(lines[30], "10:00:32.000 spawn kalmora.exe ok");
  EXPECT_EQ(lines[31], "10:00:32.000 exit done");
  EXPECT_EQ(dir_.Read("kalmora.exe"), old_exe_);
  EXPECT_TRUE(dir_.Exists("kalmora.exe.new"));
}

}  // namespace
}  // namespace kalmora
