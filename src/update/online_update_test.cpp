// The online update on the simulated host: what is fetched, renamed, started
// and logged, and that a host always keeps a readable kalmora.ini and an
// executable kalmora.exe.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "config/config.h"
#include "sim_fixture.h"
#include "update/versions.h"

namespace kalmora::testing {
namespace {

const std::string kUrl = "http://127.0.0.1/upd/";
const std::string kCurl = "system\\curl -O -s " + kUrl + "kalmora/";
const std::string kIndexCurl = kCurl + "versions.idx.new", kIniCurl = kCurl + "kalmora.ini.new";
const std::string kIndexFailed =
    "The Version Index file could not be downloaded or is corrupt. Please check network connectivity and make sure "
    "the update server is reachable.";
const std::string kNothing = "No files were updated.";
const std::string kIniDone = "Configuration file updated to version 8.";
const std::string kExeDone =
    "Program file version 1.0.6 was handed to the update helper, which puts it in place and starts it.";
const std::string kClosed = "the connection was closed before the file was complete (curl status 18)";

// "[Versions]" with ExeVersion and IniVersion from "EXE INI[\nmore keys]".
std::string Index(const std::string& versions) {
  const size_t blank = versions.find(' ');
  return Crlf("[Versions]\nExeVersion=" + versions.substr(0, blank) + "\nIniVersion=" + versions.substr(blank + 1) +
              "\n");
}
const std::string kOldIndex = Index("1.0.5 7");
std::string LocalIni(const std::string& server = kUrl, const std::string& enabled = "1", const std::string& more = "") {
  return Ini("ShutdownEnabled=1\nUpdateEnabled=" + enabled + "\nUpdateServer=" + server + "\n" + more,
             "24.12.#### = Christmas Eve\n");
}
// The configuration the server offers: another holiday name and delay, and
// message holidays that a transfer breaking off at a line end would lose
// without a word.
const std::string kServerIni =
    Ini("ShutdownEnabled=1\nShutdownDelay=60\nUpdateEnabled=1\nUpdateServer=" + kUrl + "\n",
        "24.12.#### = Server Eve\n", "01.12.####,a,b,c@example.com\n02.12.####,a,b,c@example.com\n03.12.####,a,b,c\n");
const std::string kOldExe = MakeStandInExecutable({1, 0, 5}, "kalmora");
const std::string kNewExe = MakeStandInExecutable({1, 0, 6}, "kalmora");
const std::string kEve = "Kalmora: Today is holiday 'Christmas Eve'. The host will shut down in 180 seconds.";
const std::string kServerEve = "Kalmora: Today is holiday 'Server Eve'. The host will shut down in 60 seconds.";

std::string Sha256(const std::string& bytes) {
  unsigned char d[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(bytes.data(), bytes.size(), d, &n, EVP_sha256(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < n; ++i) hex += {"0123456789ABCDEF"[d[i] >> 4], "0123456789ABCDEF"[d[i] & 15]};
  return hex;
}

// What a run did: Kalmora's commands, its error entries, the first line of
// its holiday entries, and each update report in brief:
// "local>server exe, local>server ini: outcome lines".
struct Update {
  explicit Update(SimRun r) : run(std::move(r)) {
    for (const auto& e : run.records) {
      if (e["kind"] == "spawn" && e["program"] == "kalmora") spawns.push_back(e["cmd"]);
      if (e["kind"] != "event") continue;
      const std::string text = e["text"];
      if (e["type"] == 1 && e["id"] == 109) errors.push_back(text);
      if (text.rfind("Kalmora: Today is holiday", 0) == 0) holidays.push_back(text.substr(0, text.find('\r')));
      if (text.rfind("Kalmora: Online update finished. Results:", 0) != 0) continue;
      Strings l;  // the report's lines; "Local  ExeVersion = " and the like take 20 characters
      for (size_t pos = 0, end = 0; end != std::string::npos; pos = end + 2) {
        l.push_back(text.substr(pos, (end = text.find("\r\n", pos)) - pos));
      }
      std::string brief =
          l.at(2).substr(20) + ">" + l.at(3).substr(20) + ", " + l.at(5).substr(20) + ">" + l.at(6).substr(20) + ":";
      for (size_t i = 8; i < l.size(); ++i) brief += " " + l[i];
      reports.push_back(brief);
    }
  }
  SimRun run;
  Strings spawns, errors, holidays, reports;
};

class OnlineUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    prog_.Write("kalmora.ini", LocalIni());
    prog_.Write("versions.idx", kOldIndex);
    prog_.Write("kalmora.exe", kOldExe);
  }
  // Whatever happened, the host can still read its configuration and start
  // its program.
  void TearDown() override {
    DirectHost d(prog_, "2026-12-24 10:00");
    EXPECT_EQ(ParseConfiguration(d.host, prog_.path() + "\\kalmora.ini", 1).status, 0) << "kalmora.ini unreadable";
    EXPECT_TRUE(LooksLikeWindowsExecutable(prog_.Read("kalmora.exe"))) << "kalmora.exe is no executable";
  }
  Update Run(SimSetup run_setup = {}) {
    if (run_setup.server_url.empty()) run_setup.server_url = kUrl;
    run_setup.server_dir = server_.path();
    return Update(RunSim(prog_, run_setup));
  }
  void ExpectUnchanged(const std::string& ini = LocalIni(), const std::string& index = kOldIndex) const {
    EXPECT_EQ(prog_.Read("kalmora.ini"), ini);
    EXPECT_EQ(prog_.Read("versions.idx"), index);
    EXPECT_EQ(prog_.Read("kalmora.exe"), kOldExe);
    EXPECT_FALSE(prog_.Exists("versions.idx.new") || prog_.Exists("kalmora.ini.new") ||
                 prog_.Exists("kalmora.exe.new"));
  }

  ScratchDir prog_, server_;
};

TEST_F(OnlineUpdate, NothingNewerKeepsEverything) {
  server_.Write("versions.idx.new", kOldIndex);
  Update u = Run();
  EXPECT_EQ(u.spawns, Strings{kIndexCurl});
  EXPECT_EQ(u.run.Of("event").at(0)["text"],
            "Kalmora: Online update finished. Results:\r\n\r\nLocal  ExeVersion = 1.0.5\r\nServer ExeVersion = "
            "1.0.5\r\n\r\nLocal  IniVersion = 7\r\nServer IniVersion = 7\r\n\r\n" +
                kNothing);
  EXPECT_EQ(u.reports, Strings{"1.0.5>1.0.5, 7>7: " + kNothing});
  EXPECT_TRUE(u.errors.empty());
  ExpectUnchanged();
  EXPECT_EQ(u.holidays, Strings{kEve});
}

TEST_F(OnlineUpdate, UpdateOffTouchesNothing) {
  for (const char* enabled : {"0", "", "yes", "2", "-1"}) {
    prog_.Write("kalmora.ini", LocalIni(kUrl, enabled));
    Update u = Run();
    EXPECT_TRUE(u.run.Of("file").empty() && u.spawns.empty() && u.reports.empty()) << enabled;
  }
  prog_.Write("kalmora.ini", LocalIni(kUrl, " 1.0 "));
  EXPECT_EQ(Run().reports.size(), 1u) << "\" 1.0 \" reads as the number 1";
}

TEST_F(OnlineUpdate, NewerConfigurationIsPutInPlaceAndReadAgain) {
  prog_.Write("versions.idx", "");  // no local IniVersion: "0"
  server_.Write("versions.idx.new", Index("1.0.5 8"));
  server_.Write("kalmora.ini.new", kServerIni);
  Update u = Run();
  EXPECT_EQ(u.spawns, (Strings{kIndexCurl, kIniCurl}));
  EXPECT_EQ(u.reports, Strings{"1.0.5>1.0.5, 0>8: " + kIniDone});
  EXPECT_EQ(prog_.Read("kalmora.ini"), kServerIni);
  EXPECT_EQ(prog_.Read("versions.idx"), Index("1.0.5 8"));
  EXPECT_EQ(u.holidays, Strings{kServerEve}) << "the daily check works from the new file";
  EXPECT_TRUE(u.errors.empty());
}

TEST_F(OnlineUpdate, NewerProgramIsHandedToZorvaneAndRunsAfterwards) {
  server_.Write("versions.idx.new", Index("1.0.6 7"));
  server_.Write("kalmora.exe.new", kNewExe);
  Update u = Run();
  EXPECT_EQ(u.spawns, (Strings{kIndexCurl, kCurl + "kalmora.exe.new", "zorvane.exe -updateexe kalmora", kIndexCurl}));
  // The new program knows its version and finds nothing newer.
  EXPECT_EQ(u.reports, (Strings{"1.0.5>1.0.6, 7>7: " + kExeDone, "1.0.6>1.0.6, 7>7: " + kNothing}));
  // Kalmora ends after the report, before any holiday check; Zorvane swaps
  // three seconds later and starts the new program.
  EXPECT_EQ(u.run.Lines({"start", "exit"}),
            (Strings{"07:58:00.000 start", "07:58:16.000 exit update", "07:58:16.000 zorvane start -updateexe kalmora",
                     "07:58:19.000 zorvane exit done", "07:58:19.000 start", "08:01:32.000 exit halt"}));
  EXPECT_EQ(prog_.Read("kalmora.exe"), kNewExe);
  EXPECT_EQ(prog_.Read("versions.idx"), Index("1.0.6 7"));
  EXPECT_EQ(u.holidays, Strings{kEve});
  EXPECT_TRUE(u.errors.empty());
}

TEST_F(OnlineUpdate, BothNewerFetchesBothInOneRun) {
  // With matching pins (in either case of hexadecimal digits).
  server_.Write("versions.idx.new",
                Index("1.0.6 8\nIniSha256=" + Sha256(kServerIni) + "\nExeSha256=" + Sha256(kNewExe)));
  server_.Write("kalmora.ini.new", kServerIni);
  server_.Write("kalmora.exe.new", kNewExe);
  Update u = Run();
  EXPECT_EQ(u.spawns.at(1), kCurl + "{kalmora.exe,kalmora.ini}.new");
  EXPECT_EQ(u.run.Lines({"download"}).at(2),
            "07:58:13.000 download " + kUrl + "kalmora/kalmora.ini.new kalmora.ini.new");
  EXPECT_EQ(u.reports, (Strings{"1.0.5>1.0.6, 7>8: " + kIniDone + " " + kExeDone, "1.0.6>1.0.6, 8>8: " + kNothing}));
  EXPECT_EQ(prog_.Read("kalmora.ini"), kServerIni);
  EXPECT_EQ(prog_.Read("kalmora.exe"), kNewExe);
  EXPECT_EQ(u.holidays, Strings{kServerEve});
}

// A slow link costs time, not the update: each transfer is waited for until
// curl has ended.
TEST_F(OnlineUpdate, SlowTransfersAreWaitedFor) {
  server_.Write("versions.idx.new", Index("1.0.6 8"));
  server_.Write("kalmora.ini.new", kServerIni);
  server_.Write("kalmora.exe.new", kNewExe);
  Update u = Run({.server_delay_ms = 20000});
  EXPECT_EQ(u.run.Lines({"end", "start"}),
            (Strings{"07:58:00.000 start", "07:58:30.000 end " + kIndexCurl + " 0 20.0",
                     "07:59:10.000 end " + kCurl + "{kalmora.exe,kalmora.ini}.new 0 40.0",
                     "07:59:10.000 zorvane start -updateexe kalmora", "07:59:13.000 start",
                     "07:59:43.000 end " + kIndexCurl + " 0 20.0"}));
  EXPECT_EQ(u.reports, (Strings{"1.0.5>1.0.6, 7>8: " + kIniDone + " " + kExeDone, "1.0.6>1.0.6, 8>8: " + kNothing}));
  EXPECT_EQ(prog_.Read("kalmora.ini"), kServerIni);
  EXPECT_EQ(prog_.Read("kalmora.exe"), kNewExe);
}

// A version stamp is an exact byte pattern; breaking it leaves a program
// file that is whole but says nothing of its version.
std::string Unstamped(std::string exe) {
  exe[exe.find("\xBD\x04\xEF\xFE")] = 0;
  return exe;
}

// Every way of getting no index ends alike: both server values "NO_UPDATE",
// nothing changed, the error entry, and the day goes on.
TEST_F(OnlineUpdate, NoIndexFromTheServer) {
  const std::string unreachable = "the update server could not be reached (curl status 7)";
  const struct {
    std::string update_server;
    SimSetup run_setup;
    std::string curl, why;  // no reason: curl saved an error page and ended well
  } cases[] = {
      {kUrl, {.server_url = "http://127.0.0.2/"}, kIndexCurl, unreachable},
      {"http://127.0.0.1/upd", {}, "system\\curl -O -s http://127.0.0.1/updkalmora/versions.idx.new", unreachable},
      {kUrl,
       {.without = {"curl"}},
       kIndexCurl,
       "system\\curl could not be started (The system cannot find the file specified.)"},
      {kUrl, {}, kIndexCurl, ""},  // a 404 page instead of the index
      {"", {}, "system\\curl -O -s kalmora/versions.idx.new", unreachable},
      // A cut index could offer the program without its configuration line.
      {kUrl, {.server_cut = {{"versions.idx.new", 0.7}}}, kIndexCurl, kClosed},
      {kUrl, {.server_delay_ms = 30000}, kIndexCurl, "the transfer timed out after 20 s"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.curl);
    const std::string ini = LocalIni(c.update_server, "1", "UpdateTimeout=20\n");
    prog_.Write("kalmora.ini", ini);
    server_.Write("versions.idx.new", c.why.empty() ? "<html>404</html>" : Index("1.0.6 8"));
    Update u = Run(c.run_setup);
    EXPECT_EQ(u.spawns, Strings{c.curl});
    const std::string why = c.why.empty() ? "" : " Its transfer failed: " + c.why + ".";
    EXPECT_EQ(u.reports, Strings{"1.0.5>NO_UPDATE, 7>NO_UPDATE: " + kIndexFailed + why + " " + kNothing});
    EXPECT_EQ(u.errors, Strings{"Kalmora: Error while downloading Version Index file from " + c.update_server +
                                "kalmora/versions.idx.new\r\n\r\nPlease check network connectivity and make sure the "
                                "update server is reachable." +
                                (c.why.empty() ? "" : "\r\n\r\nThe transfer failed: " + c.why + ".")});
    ExpectUnchanged(ini);
    EXPECT_EQ(u.holidays, Strings{kEve});
  }
}

TEST_F(OnlineUpdate, IndexWithOneKeyIsStillActedOn) {
  server_.Write("kalmora.ini.new", kServerIni);
  server_.Write("kalmora.exe.new", kNewExe);
  server_.Write("versions.idx.new", Crlf("[Versions]\nIniVersion=8\n"));
  Update ini_only = Run();
  EXPECT_EQ(ini_only.reports, Strings{"1.0.5>NO_UPDATE, 7>8: " + kIniDone + " " + kIndexFailed});
  EXPECT_EQ(ini_only.errors.size(), 1u);
  // No error entry from the program that handed over; the new one finds the
  // index lacking too and says so.
  server_.Write("versions.idx.new", Index("1.0.6 NO_UPDATE"));
  Update exe_only = Run();
  EXPECT_EQ(exe_only.reports, (Strings{"1.0.5>1.0.6, 8>NO_UPDATE: " + kExeDone + " " + kIndexFailed,
                                       "1.0.6>1.0.6, 0>NO_UPDATE: " + kIndexFailed + " " + kNothing}));
  EXPECT_EQ(exe_only.errors.size(), 1u);
  // The index kept from that hand-over says NO_UPDATE for the configuration;
  // a later configuration version is still taken.
  server_.Write("versions.idx.new", Index("1.0.6 9"));
  EXPECT_EQ(Run().reports, Strings{"1.0.6>1.0.6, 0>9: Configuration file updated to version 9."});
}

// A download that is missing, damaged or refused never replaces the live
// file; the local index stays, so the next start tries again.
TEST_F(OnlineUpdate, RefusedDownloadsLeaveTheLiveFiles) {
  const std::string no_ini = "it is not a readable configuration file (no line [ShutdownHolidays])";
  const std::string no_exe = "it is not a Windows executable";
  const std::string ini_file = "kalmora.ini.new", exe_file = "kalmora.exe.new";
  const struct {
    std::string index, file, bytes, why;  // no file offered when its name is empty
    std::vector<std::string> without;
    std::map<std::string, double> cut;
  } cases[] = {
      // clang-format off
      {"1.0.5 8", "", "", no_ini},
      {"1.0.5 8", ini_file, "", no_ini},
      {"1.0.5 8", ini_file, kServerIni.substr(0, kServerIni.find("Server Eve")),
       "it is not a readable configuration file (no line [MsgHolidays] after the list [ShutdownHolidays])"},
      {"1.0.5 8\nIniSha256=" + Sha256(kServerIni + " "), ini_file, kServerIni,
       "its SHA-256 does not match IniSha256 of the version index"},
      {"1.0.6 7", "", "", no_exe},
      {"1.0.6 7", exe_file, "", no_exe},
      {"1.0.6 7", exe_file, "MZ" + std::string(0x3A, 'x') + "\x80" + std::string(0x43, 0), no_exe},  // no PE
      {"1.0.6 7\nExeSha256=" + Sha256("x"), exe_file, kNewExe,
       "its SHA-256 does not match ExeSha256 of the version index"},
      // A file still stamped 1.0.5 would be offered again as soon as it ran.
      {"1.0.6 7", exe_file, kOldExe, "it is stamped as version 1.0.5, not 1.0.6"},
      {"1.0.6 7", exe_file, kNewExe,
       "the update helper zorvane.exe could not be started (The system cannot find the file specified.)", {"zorvane"}},
      // Complete, but without a version it would be offered again for ever.
      {"1.0.6 7", exe_file, Unstamped(kNewExe), "it carries no version stamp"},
      // Whole as far as curl knew (the server's own file was damaged).
      {"1.0.6 7", exe_file, kNewExe.substr(0, 700), "it is incomplete: section 1 of 1 needs 1024 bytes, the file has 700"},
      // Broken off: the stamp sits in the last bytes, the reader never sees it.
      {"1.0.6 7", exe_file, kNewExe, kClosed, {}, {{exe_file, 0.99}}},
      // Broken off at 90 %: what arrived would read as a configuration.
      {"1.0.5 8", ini_file, kServerIni, kClosed, {}, {{ini_file, 0.9}}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    SetUp();
    server_.Remove(ini_file);
    server_.Remove(exe_file);
    server_.Write("versions.idx.new", Index(c.index));
    if (!c.file.empty()) server_.Write(c.file, c.bytes);
    Update u = Run({.without = c.without, .server_cut = c.cut});
    const bool ini = c.index.rfind("1.0.5", 0) == 0;
    EXPECT_EQ(u.reports, Strings{std::string(ini ? "1.0.5>1.0.5, 7>8: Configuration file version 8"
                                                 : "1.0.5>1.0.6, 7>7: Program file version 1.0.6") +
                                 " was not installed: " + c.why + ". " + kNothing});
    ASSERT_EQ(u.errors.size(), 1u);
    EXPECT_EQ(u.errors[0].rfind("Kalmora: ", 0), 0u);
    EXPECT_NE(u.errors[0].find(c.why), std::string::npos) << u.errors[0];
    // An accepted program file swaps the index before the hand-over; the
    // program's own version decides the next try anyway.
    ExpectUnchanged(LocalIni(), c.without.empty() ? kOldIndex : Index(c.index));
    EXPECT_EQ(u.holidays, Strings{kEve}) << "the day goes on";
    EXPECT_EQ(u.run.Of("start").size(), 1u) << "no hand-over";
  }
}

TEST_F(OnlineUpdate, BothNewerWithOneRefused) {
  server_.Write("versions.idx.new", Index("1.0.6 8"));
  // kalmora.exe.new arrives as an error page: the index records the
  // configuration that was installed; the program is tried again because the
  // running one is still older.
  server_.Write("kalmora.ini.new", kServerIni);
  Update u = Run();
  EXPECT_EQ(u.reports, Strings{"1.0.5>1.0.6, 7>8: " + kIniDone +
                               " Program file version 1.0.6 was not installed: it is not a Windows executable."});
  EXPECT_EQ(prog_.Read("versions.idx"), Index("1.0.6 8"));
  EXPECT_EQ(u.holidays, Strings{kServerEve});
  // kalmora.ini.new arrives as an error page: the hand-over goes ahead, and
  // the new program still sees the old IniVersion and tries again.
  SetUp();
  server_.Remove("kalmora.ini.new");
  server_.Write("kalmora.exe.new", kNewExe);
  const std::string refused =
      "Configuration file version 8 was not installed: it is not a readable configuration "
      "file (no line [ShutdownHolidays]).";
  EXPECT_EQ(Run().reports, (Strings{"1.0.5>1.0.6, 7>8: " + refused + " " + kExeDone,
                                    "1.0.6>1.0.6, 7>8: " + refused + " " + kNothing}));
}

TEST_F(OnlineUpdate, StopRequestDuringADownloadPause) {
  // Under the service manager the update starts at 08:00:00.5, after the
  // settling wait; the stop arrives inside the index pause.
  server_.Write("versions.idx.new", Index("1.0.6 8"));
  Update u = Run({.service = true, .stop_at = "2026-12-24 08:00:02"});
  EXPECT_EQ(u.spawns, Strings{kIndexCurl});
  EXPECT_EQ(u.run.Lines({"exit"}), Strings{"08:00:02.000 exit stop"});
  EXPECT_TRUE(u.reports.empty());
  EXPECT_TRUE(prog_.Exists("versions.idx.new"));
  // The next start clears what was left.
  EXPECT_EQ(Run({.start = "2026-12-24 09:00"}).run.Lines({"file"}).at(0), "09:00:10.000 file delete versions.idx.new");
}

}  // namespace
}  // namespace kalmora::testing
