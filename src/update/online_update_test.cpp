// The online update on the simulated host: what is fetched, renamed, started
// and logged, and that a host always keeps a readable kalmora.ini and an
// executable kalmora.exe.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <filesystem>

#include "config/config.h"
#include "host/sim/sim_host.h"
#include "sim_fixture.h"
#include "update/versions.h"

namespace kalmora {
namespace {

using testing::Crlf;
using testing::Ini;
using testing::RunSpec;
using testing::ScratchDir;
using testing::SimRun;

constexpr const char* kUrl = "http://127.0.0.1/upd/";
const std::string kIndexCurl = "system\\curl -O -s http://127.0.0.1/upd/kalmora/versions.idx.new";
const std::string kIniCurl = "system\\curl -O -s http://127.0.0.1/upd/kalmora/kalmora.ini.new";
const std::string kExeCurl = "system\\curl -O -s http://127.0.0.1/upd/kalmora/kalmora.exe.new";
const std::string kBothCurl = "system\\curl -O -s http://127.0.0.1/upd/kalmora/{kalmora.exe,kalmora.ini}.new";
const std::string kHandOver = "zorvane.exe -updateexe kalmora";
const std::string kIndexFailed =
    "The Version Index file could not be downloaded or is corrupt. Please check network connectivity and make sure "
    "the update server is reachable.";
const std::string kNothing = "No files were updated.";

std::string LocalIni(const std::string& server = kUrl, const std::string& enabled = "1") {
  return Ini("ShutdownEnabled=1\nUpdateEnabled=" + enabled + "\nUpdateServer=" + server + "\n",
             "24.12.#### = Christmas Eve\n");
}
// The configuration the server offers: another holiday name and delay.
const std::string kServerIni =
    Ini("ShutdownEnabled=1\nShutdownDelay=60\nUpdateEnabled=1\nUpdateServer=http://127.0.0.1/upd/\n",
        "24.12.#### = Server Eve\n");
const std::string kNewExe = MakeStandInExecutable({1, 0, 6}, "kalmora");
std::string Index(const std::string& keys) { return Crlf("[Versions]\n" + keys); }

std::string Sha256(const std::string& bytes) {
  unsigned char d[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(bytes.data(), bytes.size(), d, &n, EVP_sha256(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < n; ++i) {
    hex += "0123456789ABCDEF"[d[i] >> 4];
    hex += "0123456789ABCDEF"[d[i] & 15];
  }
  return hex;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  for (size_t end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2)
    out.push_back(text.substr(pos, end - pos));
  out.push_back(text.substr(pos));
  return out;
}

class OnlineUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    prog_.Write("kalmora.ini", LocalIni());
    prog_.Write("versions.idx", Index("ExeVersion=1.0.5\nIniVersion=7\n"));
    prog_.Write("kalmora.exe", MakeStandInExecutable({1, 0, 5}, "kalmora"));
  }
  // Whatever happened, the host can still read its configuration and start
  // its program.
  void TearDown() override {
    sim::Options o;
    o.work_dir = prog_.path();
    sim::World world(o);
    sim::SimHost host(world, "kalmora", "", false);
    EXPECT_EQ(ParseConfiguration(host, prog_.path() + "\\kalmora.ini", 1).status, 0) << "kalmora.ini unreadable";
    EXPECT_TRUE(LooksLikeWindowsExecutable(prog_.Read("kalmora.exe"))) << "kalmora.exe is no executable";
  }

  SimRun Run(RunSpec spec = {}) {
    if (spec.server_url.empty()) spec.server_url = kUrl;
    spec.server_dir = server_.path();
    return RunSim(prog_, spec);
  }

  // The update reports of a run, each split into lines.
  static std::vector<std::vector<std::string>> Reports(const SimRun& run) {
    std::vector<std::vector<std::string>> out;
    for (const auto& e : run.Of("event")) {
      const std::string text = e["text"];
      if (text.rfind("Kalmora: Online update finished. Results:", 0) == 0) out.push_back(Lines(text));
    }
    return out;
  }
  // The outcome lines after the versions.
  static std::vector<std::string> Outcome(const std::vector<std::string>& report) {
    return {report.begin() + 8, report.end()};
  }
  static std::vector<std::string> Spawns(const SimRun& run, const std::string& program = "kalmora") {
    std::vector<std::string> out;
    for (const auto& r : run.Of("spawn")) {
      if (r["program"] == program) out.push_back(r["cmd"]);
    }
    return out;
  }
  static std::vector<std::string> Errors(const SimRun& run) {
    std::vector<std::string> out;
    for (const auto& e : run.Of("event")) {
      if (e["type"] == 1) {
        EXPECT_EQ(e["id"], 109);
        out.push_back(e["text"]);
      }
    }
    return out;
  }
  static bool Renamed(const SimRun& run, const std::string& from, const std::string& to) {
    for (const auto& r : run.Of("file")) {
      if (r["op"] == "rename" && r["name"] == from && r["to"] == to && r["ok"] == true) return true;
    }
    return false;
  }
  static bool HolidayLogged(const SimRun& run, const std::string& name, int seconds) {
    const std::string want =
        "Kalmora: Today is holiday '" + name + "'. The host will shut down in " + std::to_string(seconds) + " seconds.";
    for (const std::string& t : run.Events()) {
      if (t.rfind(want, 0) == 0) return true;
    }
    return false;
  }

  ScratchDir prog_, server_;
};

TEST_F(OnlineUpdate, NothingNewerKeepsEverything) {
  server_.Write("versions.idx.new", Index("ExeVersion=1.0.5\nIniVersion=7\n"));
  const std::string ini = prog_.Read("kalmora.ini");
  SimRun run = Run();

  EXPECT_EQ(Spawns(run), std::vector<std::string>{kIndexCurl});
  auto reports = Reports(run);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], (std::vector<std::string>{"Kalmora: Online update finished. Results:", "",
                                                  "Local  ExeVersion = 1.0.5", "Server ExeVersion = 1.0.5", "",
                                                  "Local  IniVersion = 7", "Server IniVersion = 7", "", kNothing}));
  EXPECT_TRUE(Errors(run).empty());
  EXPECT_FALSE(prog_.Exists("versions.idx.new"));
  EXPECT_EQ(prog_.Read("versions.idx"), Index("ExeVersion=1.0.5\nIniVersion=7\n"));
  EXPECT_EQ(prog_.Read("kalmora.ini"), ini);
  EXPECT_TRUE(HolidayLogged(run, "Christmas Eve", 180));
}

TEST_F(OnlineUpdate, UpdateOffTouchesNothing) {
  for (const char* enabled : {"0", "", "yes", "2", "-1"}) {
    prog_.Write("kalmora.ini", LocalIni(kUrl, enabled));
    SimRun run = Run();
    EXPECT_TRUE(run.Of("file").empty()) << enabled;
    EXPECT_TRUE(Spawns(run).empty()) << enabled;
    EXPECT_TRUE(Reports(run).empty()) << enabled;
  }
  prog_.Write("kalmora.ini", LocalIni(kUrl, " 1.0 "));
  EXPECT_EQ(Reports(Run()).size(), 1u) << "\" 1.0 \" reads as the number 1";
}

TEST_F(OnlineUpdate, NewerConfigurationIsPutInPlaceAndReadAgain) {
  prog_.Write("versions.idx", "");  // no local IniVersion: "0"
  server_.Write("versions.idx.new", Index("ExeVersion=1.0.5\nIniVersion=8\n"));
  server_.Write("kalmora.ini.new", kServerIni);
  SimRun run = Run();

  EXPECT_EQ(Spawns(run), (std::vector<std::string>{kIndexCurl, kIniCurl}));
  EXPECT_TRUE(Renamed(run, "kalmora.ini.new", "kalmora.ini"));
  EXPECT_TRUE(Renamed(run, "versions.idx.new", "versions.idx"));
  auto reports = Reports(run);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0][5], "Local  IniVersion = 0");
  EXPECT_EQ(Outcome(reports[0]), std::vector<std::string>{"Configuration file updated to version 8."});
  EXPECT_EQ(prog_.Read("kalmora.ini"), kServerIni);
  EXPECT_EQ(prog_.Read("versions.idx"), Index("ExeVersion=1.0.5\nIniVersion=8\n"));
  // The daily check works from the new file.
  EXPECT_TRUE(HolidayLogged(run, "Server Eve", 60));
  EXPECT_TRUE(Errors(run).empty());
}

TEST_F(OnlineUpdate, NewerProgramIsHandedToZorvaneAndRunsAfterwards) {
  server_.Write("versions.idx.new", Index("ExeVersion=1.0.6\nIniVersion=7\n"));
  server_.Write("kalmora.exe.new", kNewExe);
  SimRun run = Run();

  EXPECT_EQ(Spawns(run), (std::vector<std::string>{kIndexCurl, kExeCurl, kHandOver, kIndexCurl}));
  EXPECT_TRUE(Renamed(run, "versions.idx.new", "versions.idx"));
  auto reports = Reports(run);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(Outcome(reports[0]), std::vector<std::string>{"Program file updated to version 1.0.6."});

  // Kalmora ends right after the report, before any holiday check; Zorvane
  // swaps three seconds later and starts the new program.
  const auto& r = run.records;
  size_t end = 0;
  while (end < r.size() && r[end]["kind"] != "exit") ++end;
  ASSERT_LT(end + 5, r.size());
  std::vector<std::string> brief;
  for (size_t i = end; i <= end + 5; ++i) {
    std::string line = r[i]["t"].get<std::string>().substr(11) + " " + r[i]["program"].get<std::string>();
    for (const char* f : {"kind", "reason", "args", "name", "to", "cmd"}) {
      if (r[i].contains(f)) line += " " + r[i][f].get<std::string>();
    }
    brief.push_back(line + (r[i].value("ok", true) ? "" : " failed"));
  }
  EXPECT_EQ(brief,
            (std::vector<std::string>{
                "07:58:16.000 kalmora exit update", "07:58:16.000 zorvane start -updateexe kalmora",
                "07:58:19.000 zorvane file kalmora.exe.new kalmora.exe", "07:58:19.000 zorvane spawn kalmora.exe",
                "07:58:19.000 zorvane exit done", "07:58:19.000 kalmora start "}));
  EXPECT_EQ(r[end - 1]["text"].get<std::string>().rfind("Kalmora: Online update finished.", 0), 0u);
  for (size_t i = 0; i < end; ++i) EXPECT_EQ(r[i].value("text", "").find("holiday"), std::string::npos) << r[i];

  // The new program knows its version and finds nothing newer.
  EXPECT_EQ(reports[1][2], "Local  ExeVersion = 1.0.6");
  EXPECT_EQ(Outcome(reports[1]), std::vector<std::string>{kNothing});
  EXPECT_EQ(prog_.Read("kalmora.exe"), kNewExe);
  EXPECT_TRUE(HolidayLogged(run, "Christmas Eve", 180));
  EXPECT_TRUE(Errors(run).empty());
}

TEST_F(OnlineUpdate, BothNewerFetchesBothInOneRun) {
  // With matching pins (in either case of hexadecimal digits).
  server_.Write("versions.idx.new", Index("ExeVersion=1.0.6\nIniVersion=8\nIniSha256=" + Sha256(kServerIni) +
                                          "\nExeSha256=" + Sha256(kNewExe) + "\n"));
  server_.Write("kalmora.ini.new", kServerIni);
  server_.Write("kalmora.exe.new", kNewExe);
  SimRun run = Run();

  EXPECT_EQ(Spawns(run), (std::vector<std::string>{kIndexCurl, kBothCurl, kHandOver, kIndexCurl}));
  auto downloads = run.Of("download");
  ASSERT_GE(downloads.size(), 3u);
  EXPECT_EQ(downloads[1]["url"], "http://127.0.0.1/upd/kalmora/kalmora.exe.new");
  EXPECT_EQ(downloads[2]["url"], "http://127.0.0.1/upd/kalmora/kalmora.ini.new");
  auto reports = Reports(run);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(Outcome(reports[0]), (std::vector<std::string>{"Configuration file updated to version 8.",
                                                           "Program file updated to version 1.0.6."}));
  EXPECT_EQ(reports[1][2], "Local  ExeVersion = 1.0.6");
  EXPECT_EQ(reports[1][5], "Local  IniVersion = 8");
  EXPECT_EQ(prog_.Read("kalmora.ini"), kServerIni);
  EXPECT_EQ(prog_.Read("kalmora.exe"), kNewExe);
  EXPECT_TRUE(HolidayLogged(run, "Server Eve", 60));
  EXPECT_FALSE(HolidayLogged(run, "Christmas Eve", 180));
}

// Every way of getting no index ends alike: both server values "NO_UPDATE",
// nothing changed, the error entry, and the day goes on.
TEST_F(OnlineUpdate, NoIndexFromTheServer) {
  struct Case {
    const char* what;
    std::string update_server;
    RunSpec spec;
    std::string curl;
  } cases[] = {
      {"server unreachable", kUrl, RunSpec{.server_url = "http://127.0.0.2/"}, kIndexCurl},
      {"UpdateServer without its final /",
       "http://127.0.0.1/upd",
       {},
       "system\\curl -O -s http://127.0.0.1/updkalmora/versions.idx.new"},
      {"curl missing", kUrl, RunSpec{.without = {"curl"}}, kIndexCurl},
      {"404 page instead of the index", kUrl, {}, kIndexCurl},
      {"empty UpdateServer", "", {}, "system\\curl -O -s kalmora/versions.idx.new"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    prog_.Write("kalmora.ini", LocalIni(c.update_server));
    const std::string ini = prog_.Read("kalmora.ini");
    SimRun run = Run(c.spec);
    EXPECT_EQ(Spawns(run), std::vector<std::string>{c.curl});
    auto reports = Reports(run);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0][3], "Server ExeVersion = NO_UPDATE");
    EXPECT_EQ(reports[0][6], "Server IniVersion = NO_UPDATE");
    EXPECT_EQ(Outcome(reports[0]), (std::vector<std::string>{kIndexFailed, kNothing}));
    EXPECT_EQ(Errors(run),
              std::vector<std::string>{"Kalmora: Error while downloading Version Index file from " + c.update_server +
                                       "kalmora/versions.idx.new\r\n\r\nPlease check network "
                                       "connectivity and make sure the update server is reachable."});
    EXPECT_EQ(prog_.Read("kalmora.ini"), ini);
    EXPECT_EQ(prog_.Read("versions.idx"), Index("ExeVersion=1.0.5\nIniVersion=7\n"));
    EXPECT_TRUE(HolidayLogged(run, "Christmas Eve", 180));
  }
}

TEST_F(OnlineUpdate, IndexWithOneKeyIsStillActedOn) {
  server_.Write("kalmora.ini.new", kServerIni);
  server_.Write("kalmora.exe.new", kNewExe);

  server_.Write("versions.idx.new", Index("IniVersion=8\n"));
  SimRun ini_only = Run();
  ASSERT_EQ(Reports(ini_only).size(), 1u);
  EXPECT_EQ(Outcome(Reports(ini_only)[0]),
            (std::vector<std::string>{"Configuration file updated to version 8.", kIndexFailed}));
  EXPECT_EQ(Errors(ini_only).size(), 1u);
  EXPECT_TRUE(HolidayLogged(ini_only, "Server Eve", 60));

  server_.Write("versions.idx.new", Index("ExeVersion=1.0.6\nIniVersion=NO_UPDATE\n"));
  SimRun exe_only = Run();
  ASSERT_EQ(Reports(exe_only).size(), 2u);
  EXPECT_EQ(Outcome(Reports(exe_only)[0]),
            (std::vector<std::string>{"Program file updated to version 1.0.6.", kIndexFailed}));
  // No error entry from the program that handed over; the new one finds the
  // index lacking too and says so.
  EXPECT_EQ(Errors(exe_only).size(), 1u);
  EXPECT_EQ(Reports(exe_only)[1][2], "Local  ExeVersion = 1.0.6");
}

// A download that is missing, damaged or refused never replaces the live
// file; the local index stays, so the next start tries again.
TEST_F(OnlineUpdate, RefusedDownloadsLeaveTheLiveFiles) {
  const std::string pe_junk = "MZ" + std::string(0x3A, 'x') + "\x80\0\0\0" + std::string(0x40, 'y');
  struct Case {
    const char* what;
    std::string index;
    const char* file;  // offered under this name, unless null
    std::string bytes;
    std::vector<std::string> without;
    std::string outcome;
  } cases[] = {
      {"configuration 404",
       "ExeVersion=1.0.5\nIniVersion=8\n",
       nullptr,
       "",
       {},
       "Configuration file version 8 was not installed: it is not a readable configuration file (no line "
       "[ShutdownHolidays])."},
      {"configuration empty",
       "ExeVersion=1.0.5\nIniVersion=8\n",
       "kalmora.ini.new",
       "",
       {},
       "Configuration file version 8 was not installed: it is not a readable configuration file (no line "
       "[ShutdownHolidays])."},
      {"configuration truncated",
       "ExeVersion=1.0.5\nIniVersion=8\n",
       "kalmora.ini.new",
       kServerIni.substr(0, kServerIni.find("Server Eve")),
       {},
       "Configuration file version 8 was not installed: it is not a readable configuration file (no line "
       "[MsgHolidays] after the list [ShutdownHolidays])."},
      {"configuration SHA-256 mismatch",
       "ExeVersion=1.0.5\nIniVersion=8\nIniSha256=" + Sha256(kServerIni + " ") + "\n",
       "kalmora.ini.new",
       kServerIni,
       {},
       "Configuration file version 8 was not installed: its SHA-256 does not match IniSha256 of the version index."},
      {"program 404",
       "ExeVersion=1.0.6\nIniVersion=7\n",
       nullptr,
       "",
       {},
       "Program file version 1.0.6 was not installed: it is not a Windows executable."},
      {"program empty",
       "ExeVersion=1.0.6\nIniVersion=7\n",
       "kalmora.exe.new",
       "",
       {},
       "Program file version 1.0.6 was not installed: it is not a Windows executable."},
      {"program MZ without PE",
       "ExeVersion=1.0.6\nIniVersion=7\n",
       "kalmora.exe.new",
       pe_junk,
       {},
       "Program file version 1.0.6 was not installed: it is not a Windows executable."},
      {"program SHA-256 mismatch",
       "ExeVersion=1.0.6\nIniVersion=7\nExeSha256=" + Sha256("x") + "\n",
       "kalmora.exe.new",
       kNewExe,
       {},
       "Program file version 1.0.6 was not installed: its SHA-256 does not match ExeSha256 of the version index."},
      // A file still stamped 1.0.5 would be offered again as soon as it ran.
      {"program stamped with another version",
       "ExeVersion=1.0.6\nIniVersion=7\n",
       "kalmora.exe.new",
       MakeStandInExecutable({1, 0, 5}, "kalmora"),
       {},
       "Program file version 1.0.6 was not installed: it is stamped as version 1.0.5, not 1.0.6."},
      {"zorvane missing",
       "ExeVersion=1.0.6\nIniVersion=7\n",
       "kalmora.exe.new",
       kNewExe,
       {"zorvane"},
       "Program file version 1.0.6 was not installed: the update helper zorvane.exe could not be started."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(server_.path() + "/kalmora.ini.new");
    std::filesystem::remove(server_.path() + "/kalmora.exe.new");
    server_.Write("versions.idx.new", Index(c.index));
    if (c.file) server_.Write(c.file, c.bytes);
    const std::string ini = prog_.Read("kalmora.ini"), exe = prog_.Read("kalmora.exe");
    SimRun run = Run(RunSpec{.without = c.without});

    auto reports = Reports(run);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(Outcome(reports[0]), (std::vector<std::string>{c.outcome, kNothing}));
    auto errors = Errors(run);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Kalmora: ", 0), 0u);
    const std::string why = c.outcome.substr(c.outcome.find(": ") + 2);
    EXPECT_NE(errors[0].find(why.substr(0, why.size() - 1)), std::string::npos) << errors[0];
    EXPECT_EQ(prog_.Read("kalmora.ini"), ini);
    EXPECT_EQ(prog_.Read("kalmora.exe"), exe);
    EXPECT_FALSE(prog_.Exists("kalmora.ini.new"));
    EXPECT_FALSE(prog_.Exists("kalmora.exe.new"));
    // An accepted program file swaps the index before the hand-over; the
    // program's own version decides the next try anyway.
    if (c.without.empty()) {
      EXPECT_EQ(prog_.Read("versions.idx"), Index("ExeVersion=1.0.5\nIniVersion=7\n"));
    }
    EXPECT_TRUE(HolidayLogged(run, "Christmas Eve", 180)) << "the day goes on";
    EXPECT_EQ(run.Of("start").size(), 1u) << "no hand-over";
  }
}

TEST_F(OnlineUpdate, RefusedConfigurationIsFetchedAgainAtTheNextStart) {
  server_.Write("versions.idx.new", Index("ExeVersion=1.0.5\nIniVersion=8\n"));
  SimRun first = Run();
  EXPECT_FALSE(Renamed(first, "kalmora.ini.new", "kalmora.ini"));

  server_.Write("kalmora.ini.new", kServerIni);
  SimRun second = Run();
  EXPECT_EQ(Spawns(second), (std::vector<std::string>{kIndexCurl, kIniCurl}));
  EXPECT_EQ(Outcome(Reports(second)[0]), std::vector<std::string>{"Configuration file updated to version 8."});
  EXPECT_EQ(prog_.Read("kalmora.ini"), kServerIni);
}

TEST_F(OnlineUpdate, BothNewerWithARefusedProgramKeepsTheNewConfiguration) {
  server_.Write("versions.idx.new", Index("ExeVersion=1.0.6\nIniVersion=8\n"));
  server_.Write("kalmora.ini.new", kServerIni);  // kalmora.exe.new arrives as an error page
  SimRun run = Run();

  EXPECT_EQ(
      Outcome(Reports(run)[0]),
      (std::vector<std::string>{"Configuration file updated to version 8.",
                                "Program file version 1.0.6 was not installed: it is not a Windows executable."}));
  // The index records the configuration that was installed; the program is
  // tried again because the running one is still older.
  EXPECT_EQ(prog_.Read("versions.idx"), Index("ExeVersion=1.0.6\nIniVersion=8\n"));
  EXPECT_TRUE(HolidayLogged(run, "Server Eve", 60));
  EXPECT_EQ(run.Exit()["reason"], "halt");
}

TEST_F(OnlineUpdate, BothNewerWithARefusedConfigurationStillHandsOver) {
  server_.Write("versions.idx.new", Index("ExeVersion=1.0.6\nIniVersion=8\n"));
  server_.Write("kalmora.exe.new", kNewExe);  // kalmora.ini.new arrives as an error page
  SimRun run = Run();

  auto reports = Reports(run);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(Outcome(reports[0])[1], "Program file updated to version 1.0.6.");
  // The new program still sees the old IniVersion and tries again.
  EXPECT_EQ(reports[1][5], "Local  IniVersion = 7");
  EXPECT_EQ(Spawns(run).back(), kIniCurl);
}

TEST_F(OnlineUpdate, StopRequestDuringADownloadPause) {
  // Under the service manager the update starts at 08:00:00.5, after the
  // settling wait; the stop arrives inside the index pause.
  server_.Write("versions.idx.new", Index("ExeVersion=1.0.6\nIniVersion=8\n"));
  SimRun run = Run(RunSpec{.service = true, .stop_at = "2026-12-24 08:00:02"});
  EXPECT_EQ(Spawns(run), std::vector<std::string>{kIndexCurl});
  EXPECT_EQ(run.Exit()["reason"], "stop");
  EXPECT_EQ(run.Exit()["t"], "2026-12-24 08:00:02.000");
  EXPECT_TRUE(Reports(run).empty());
  EXPECT_TRUE(prog_.Exists("versions.idx.new"));

  // The next start clears what was left.
  SimRun next = Run(RunSpec{.start = "2026-12-24 09:00"});
  ASSERT_FALSE(next.Of("file").empty());
  EXPECT_EQ(next.Of("file")[0]["name"], "versions.idx.new");
  EXPECT_EQ(next.Of("file")[0]["ok"], true);
}

TEST_F(OnlineUpdate, PauseAcrossMidnightLastsThreeSeconds) {
  server_.Write("versions.idx.new", Index("ExeVersion=1.0.5\nIniVersion=7\n"));
  // Started by hand: the update begins after the 10-second start wait.
  SimRun run = Run(RunSpec{.start = "2026-12-30 23:59:49"});
  ASSERT_EQ(run.Of("spawn").size(), 1u);
  EXPECT_EQ(run.Of("spawn")[0]["t"], "2026-12-30 23:59:59.000");
  const auto& files = run.Of("file");
  EXPECT_EQ(files.back()["name"], "versions.idx.new");
  EXPECT_EQ(files.back()["t"], "2026-12-31 00:00:02.000");
}

}  // namespace
}  // namespace kalmora
