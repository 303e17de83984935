// The kalmora-sim command as scripts see it: the built binary, its options,
// exit status, records and their fields, and that its output is repeatable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "sim_fixture.h"
#include "update/versions.h"

extern char** environ;

namespace kalmora::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using Args = std::vector<std::string>;

struct Outcome {
  int status = -1;
  std::string out, err;
  std::vector<json> records;  // the output read as JSON Lines
};

// Runs the binary without a shell, its output going to files. Its TMPDIR is
// a directory of ours, which it must leave empty.
Outcome Sim(Args args) {
  ScratchDir io, tmp;
  args.insert(args.begin(), KALMORA_SIM_BINARY);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, (io.path() + "/out").c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, (io.path() + "/err").c_str(), O_WRONLY | O_CREAT, 0600);
  const std::string saved = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
  setenv("TMPDIR", tmp.path().c_str(), 1);
  pid_t pid = 0;
  int status = 0;
  const bool ran =
      posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) == 0 && waitpid(pid, &status, 0) == pid;
  saved.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", saved.c_str(), 1);
  posix_spawn_file_actions_destroy(&fa);
  Outcome o{ran && WIFEXITED(status) ? WEXITSTATUS(status) : -1, io.Read("out"), io.Read("err")};
  EXPECT_TRUE(fs::is_empty(tmp.path())) << "the run's own directory is left behind";
  EXPECT_TRUE(o.out.empty() || o.out.back() == '\n') << "the last record ends without a line end";
  std::istringstream lines(o.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("{")) o.records.push_back(json::parse(line));
  }
  return o;
}

const std::string kUrl = "http://127.0.0.1/upd/";
const std::string kCurl = "system\\curl -O -s -f -w \"%{http_code} %{filename_effective}\\n\" ";

class KalmoraSim : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string general = "ShutdownEnabled=1\nShutdownDelay=30\nBeepOnShutdown=-1\nMsgOnShutdownEmail=1\n";
    prog_.Write("kalmora.ini", Ini(general + "MsgOnShutdownSession=1\nUpdateEnabled=1\nUpdateServer=" + kUrl + "\n",
                                   "24.12.#### = Christmas Eve\n", "", "EmailAddress=it@example.com\n"));
    prog_.Write("system/send.bat", "@echo off\r\n");
    server_.Write("versions.idx.new", Crlf("[Versions]\nExeVersion=1.0.6\nIniVersion=8\n"));
    server_.Write("kalmora.exe.new", MakeStandInExecutable({1, 0, 6}, "kalmora"));
  }
  // Christmas Eve from 07:58 in the program directory, with the update
  // server and JSON Lines, after the options given.
  Outcome Day(Args args) const {
    args.insert(args.end(), {"--dir", prog_.path(), "--server", kUrl + "=" + server_.path(), "--start",
                             "2026-12-24 07:58", "--json"});
    return Sim(args);
  }

  ScratchDir prog_, server_, scratch_;
};

TEST_F(KalmoraSim, UnusableArgumentsExitWithStatusTwoAndSayWhy) {
  scratch_.Write("full/x", "x");
  scratch_.Write("file", "x");
  const std::string p = prog_.path(), s = scratch_.path();
  const std::pair<Args, const char*> cases[] = {
      // clang-format off
      {{"--start", "2026-12-24"}, "--start"}, {{"--start", "2026-02-30 08:00"}, "--start"},
      {{"--start", "2026-12-24 08:00:00.5"}, "--start"}, {{"--until", "tomorrow"}, "--until"},
      {{"--start", "2026-12-24 08:00", "--until", "2026-12-24 07:00"}, "--until"}, {{"--stop-at", "soon"}, "--stop-at"},
      {{"--dir", s + "/missing"}, "--dir"}, {{"--dir", p, "--work", s + "/full"}, "--work"},
      {{"--dir", p, "--work", s + "/file"}, "--work"}, {{"--dir", p, "--work", p + "/inside"}, "--work"},
      {{"--server", kUrl}, "--server"}, {{"--server", kUrl + "=" + s + "/missing"}, "--server"},
      {{"--without", "bash"}, "--without"}, {{"--args"}, "--args"}, {{"--args", "a", "--args=b"}, "--args"},
      {{"--server-delay", "-1"}, "--server-delay"}, {{"--send-delay", "soon"}, "--send-delay"},
      {{"--server-fault", "kalmora.exe.new"}, "--server-fault"}, {{"--server-fault", "a=1"}, "--server-fault"},
      {{"--exit-status", "curl=1"}, "--exit-status"}, {{"--exit-status", "net=1.5"}, "--exit-status"},
      {{"--sleep", "2026-12-24 09:00..2026-12-24 08:00"}, "--sleep"}, {{"--bogus"}, "--bogus"}, {{"stray"}, "stray"},
      {{"--sleep", "2026-12-24 08:00..2026-12-24 09:00", "--sleep", "2026-12-24 08:30..2026-12-24 10:00"}, "--sleep"},
      {{"--kill-at", "now"}, "--kill-at"}, {{"--sc-start", "2026-12-24"}, "--sc-start"},
      {{"--start-by-hand", "later=-debug"}, "--start-by-hand"}, {{"--session", "a@2026-12-24 08:00"}, "--session"},
      {{"--session", "@2026-12-24 08:00..2026-12-24 09:00"}, "--session"},
      {{"--input", "a@2026-12-24 08:00..2026-12-24 09:00"}, "--input"},
      {{"--session", "a@2026-12-24 08:00..2026-12-24 09:00", "--click", "a@2026-12-24 08:30=later"}, "--click"},
      {{"--click", "b@2026-12-24 08:30=ok"}, "--click"}, {{"--power", "hibernate,standby"}, "--power"},
      {{"--process", "backup.exe"}, "--process"}, {{"--process", "@2026-12-24 08:00..2026-12-24 09:00"}, "--process"},
      {{"--servicing", "2026-12-24 08:00"}, "--servicing"}, {{"--wake", "soon"}, "--wake"},
      // clang-format on
  };
  for (const auto& [args, names] : cases) {
    const Outcome o = Sim(args);
    EXPECT_TRUE(o.status == 2 && o.out.empty() && o.err.find(names) != std::string::npos) << o.status << o.err;
  }
  EXPECT_FALSE(fs::exists(p + "/inside"));
}

// Runs as the options say, in records that have exactly the fields of their
// kind.
TEST_F(KalmoraSim, RecordsAsTheOptionsSay) {
  const std::tuple<Args, const char*, std::set<std::string>, Strings> runs[] = {
      // The options, Kalmora's arguments as it sees them, and the records of some kinds.
      // clang-format off
      {{"--args=-install", "--service"}, "-install", {"exit"}, {"07:58:00.000 exit command"}},
      {{"--args", "-uninstall"}, "-uninstall", {"exit"}, {"07:58:00.000 exit command"}},
      {{"--args", "--json"}, "--json", {"msgbox"}, {"07:58:00.000 msgbox Kalmora Invalid command line parameter. none"}},
      {{"--args", "-debug", "--until", "2026-12-24 07:58:05"}, "-debug", {"service", "exit"},
       {"07:58:00.000 service SetDebugMode", "07:58:00.000 service SetAcceptedControls 2",
        "07:58:00.000 service ConnectServiceManager", "07:58:05.000 exit until"}},
      {{"--service", "--stop-at", "2026-12-24 07:59"}, "", {"exit"}, {"07:59:00.000 exit stop"}},
      {{"--until", "2026-12-24 07:58:00.000"}, "", {"start", "exit"}, {"07:58:00.000 start", "07:58:00.000 exit until"}},
      {{"--without", "curl", "--without", "send.bat"}, "", {"spawn", "download", "mail"},
       {"07:58:10.000 spawn " + kCurl + kUrl + "kalmora/versions.idx.new failed",
        "07:58:10.000 spawn system\\send.bat failed"}},
      {{"--service", "--server-fault", "kalmora.exe.new=0.5", "--send-delay", "1", "--sleep",
        "2026-12-24 07:59..2026-12-24 07:59:30"}, "", {"suspend", "resume", "exit"},
       {"07:59:00.000 suspend 2026-12-24 07:59:30.000", "07:59:30.000 resume", "08:00:43.500 exit halt"}},
      // Slow, broken off, failing: each shows at its moment.
      {{"--server-delay", "2.5", "--server-fault", "kalmora.exe.new=0.5", "--send-delay", "4", "--exit-status",
        "send.bat=3", "--until", "2026-12-24 07:59"}, "", {"download", "end"},
       {"07:58:12.500 download " + kUrl + "kalmora/versions.idx.new versions.idx.new",
        "07:58:12.500 end " + kCurl + kUrl + "kalmora/versions.idx.new 0 2.5",
        // At least three seconds after the index's start; then both files.
        "07:58:18.000 download " + kUrl + "kalmora/kalmora.exe.new kalmora.exe.new 512",
        "07:58:18.000 download " + kUrl + "kalmora/kalmora.ini.new kalmora.ini.new",
        "07:58:18.000 end " + kCurl + kUrl + "kalmora/{kalmora.exe,kalmora.ini}.new 18 5.0",
        "07:58:22.000 end system\\send.bat 3 4.0"}},
      // clang-format on
  };
  std::vector<json> all;
  for (const auto& [args, seen, kinds, lines] : runs) {
    const Outcome o = Day(args);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.records.at(0)["args"], seen);
    EXPECT_EQ(Lines(o.records, kinds), lines) << args[0];
    all.insert(all.end(), o.records.begin(), o.records.end());
  }
  // After "t", "program" and "kind", each kind's fields in order, with the
  // values of those that take one of a few.
  const std::map<std::string, std::string> fields = {
      // clang-format off
      {"start", "args=string service=boolean"},
      {"service", "call=(RegisterService|UnregisterService) result=boolean|call=(SetAcceptedControls|"
                  "SetInteractiveDesktop|SetStartType|SetDebugMode) arg=\\w+|call=ConnectServiceManager"},
      {"msgbox", "caption=string text=string icon=(information|warning|none)"},
      {"event", "type=number id=number text=string"}, {"spawn", "cmd=string ok=boolean"},
      {"download", "url=string file=string saved=boolean( cut_at=number)?"},
      {"end", "cmd=string status=number seconds=number( ended_by=string)?"}, {"mail", "text=string"},
      {"file", "op=delete name=string ok=boolean|op=rename name=string to=string ok=boolean"},
      {"beep", "hz=number ms=number"}, {"halt", "flags=number reason=number|call=InitiateShutdownW flags=number reason=number comment=string( failed=string)?|"
               "call=SetSuspendState state=string( failed=string)?"},
      {"exit", "reason=(halt|stop|exit-timer|config|update|command|command-failed|done|until)"},
      {"session", "title=string text=string timeout=number"}, {"suspend", "until=string"}, {"resume", ""},
      // clang-format on
  };
  std::set<std::string> kinds, calls;
  for (const json& r : all) {
    std::string got;
    for (auto& [k, v] : r.items()) {
      const bool named = k == "t" || k == "program" || k == "kind" || k == "call" || k == "icon" || k == "op" ||
                         (k == "reason" && r["kind"] == "exit");
      got += (got.empty() ? "" : " ") + k + "=" + (named ? v.get<std::string>() : std::string(v.type_name()));
    }
    kinds.insert(r.value("kind", ""));
    if (r["kind"] == "service") calls.insert(r["call"].get<std::string>());
    const std::regex want(R"(t=\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} program=(kalmora|zorvane) kind=)" +
                          r.value("kind", "") + " ?(" + fields.at(r.value("kind", "")) + ")");
    EXPECT_TRUE(std::regex_match(got, want)) << got;
  }
  EXPECT_EQ(kinds.size(), fields.size()) << "every kind shows up";
  EXPECT_EQ(calls.size(), 7u) << "every call shows up";
}

// --work keeps the run's directory and --dir is never changed; the bundled
// example's Christmas Eve, as readable text, comes out the same each time.
TEST_F(KalmoraSim, WorkDirectoryAndReadableText) {
  const std::string work = scratch_.path() + "/new/work";
  ASSERT_EQ(Day({"--work", work}).status, 0);
  EXPECT_EQ(std::distance(fs::recursive_directory_iterator(prog_.path()), {}), 3);
  EXPECT_EQ(scratch_.Read("new/work/system/send.bat"), "@echo off\r\n");
  EXPECT_EQ(StampedVersion(scratch_.Read("new/work/kalmora.exe")).value_or(ProgramVersion{}).revision, 6) << "updated";
  EXPECT_TRUE(LooksLikeWindowsExecutable(scratch_.Read("new/work/zorvane.exe")));
  // A file missing on the server: nothing is saved, and the entry says so.
  server_.Remove("versions.idx.new");
  const Outcome missing = Day({"--work", scratch_.path() + "/w"});
  EXPECT_FALSE(fs::exists(scratch_.path() + "/w/versions.idx.new"));
  EXPECT_NE(missing.out.find("The transfer failed: the server answered 404 Not Found for versions.idx.new."),
            std::string::npos);
  const Outcome a = Sim({"--start", "2026-12-24 07:58", "--service"});
  EXPECT_EQ(a.out, Sim({"--start", "2026-12-24 07:58", "--service"}).out);
  // clang-format off
  for (const std::string& excerpt : Strings{
           "2026-12-24 07:58:00.000  kalmora start    args=\"\"  (by the service manager)\n",
           "2026-12-24 08:00:00.500  kalmora mail     mail.tmp as send.bat found it:\n"
           "        | From: kalmora@example.com\n        | To: it-staff@example.com\n        | Subject: Christmas Eve\n"
           "        | X-Mailer: Kalmora Service " + kVersionText + "\n        | X-Kalmora-IniVersion: \n"
           "        | X-Kalmora-RunningAsService: 1\n        | \n"
           "        | Today is Christmas Eve. The host will shut down in 3 minutes.\n",
           "2026-12-24 08:03:03.500  kalmora halt     ExitWindowsEx(flags 5, reason 0xFFFFFFFF)\n"}) {
    // clang-format on
    EXPECT_NE(a.out.find(excerpt), std::string::npos) << excerpt << a.out;
  }
}

// A P-256 key in the PEM forms openssl writes: "EC PRIVATE KEY" as
// `openssl ecparam -genkey`, "PRIVATE KEY" as `openssl pkcs8 -topk8`, and the
// public key as `openssl ec -pubout`.
std::map<std::string, std::string> KeyFiles() {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"),
                                                          EVP_PKEY_free);
  std::map<std::string, std::string> pem;
  for (const char* form : {"sec1", "pkcs8", "public"}) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    const std::string f = form;
    if (f == "sec1") PEM_write_bio_PrivateKey_traditional(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    if (f == "pkcs8") PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    if (f == "public") PEM_write_bio_PUBKEY(bio.get(), key.get());
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);  // before `data` is read
    pem[f] = std::string(data, static_cast<size_t>(n));
  }
  return pem;
}

// What publish writes is what a host with the public key installs; what it
// refuses it writes nothing for.
TEST_F(KalmoraSim, PublishWritesWhatAHostWithTheKeyInstalls) {
  auto pem = KeyFiles();
  for (const auto& [form, text] : pem) scratch_.Write(form + ".pem", text);
  scratch_.Write("good.ini",
                 Ini("ShutdownEnabled=1\nUpdateEnabled=1\nUpdateServer=" + kUrl + "\n", "24.12.#### = Eve\n"));
  scratch_.Write("bad.ini", Crlf("[GeneralOptions]\nVersion=one\n"));
  scratch_.Write("next.exe", MakeStandInExecutable({1, 0, 6}, "kalmora"));
  prog_.Write("system/update-key.pem", pem["public"]);
  const std::string s = scratch_.path() + "/";
  const struct {
    Args args;
    int status;
    Strings reported;  // sentences of the hosts' update reports
  } cases[] = {
      {{"--key", s + "sec1.pem", "--ini", s + "good.ini", "--ini-version", "8", "--exe", s + "next.exe"},
       0,
       {"Configuration file updated to version 8.", "Program file version 1.0.6 was handed to the update helper"}},
      {{"--key", s + "pkcs8.pem", "--exe", s + "next.exe"},
       0,
       {"Program file version 1.0.6 was handed to the update helper"}},
      {{"--key", s + "sec1.pem", "--ini", s + "bad.ini", "--ini-version", "8"}, 2, {}},
      {{"--key", s + "public.pem", "--exe", s + "next.exe"}, 2, {}},
      {{"--key", s + "sec1.pem", "--exe", s + "good.ini"}, 2, {}},
      {{"--key", s + "sec1.pem", "--ini", s + "good.ini"}, 3, {}},
      {{"--key", s + "sec1.pem"}, 3, {}},
  };
  for (const auto& c : cases) {
    ScratchDir out;
    Args args = {"publish", "--expires", "3660", "--out", out.path()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome o = Sim(args);
    SCOPED_TRACE(o.err);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(fs::exists(out.path() + "/kalmora/versions.idx.sig"), c.status == 0);
    if (c.status != 0) continue;
    // The folder publish wrote is the server's folder (the fixture's server
    // is the kalmora folder itself).
    const Outcome day = Sim({"--dir", prog_.path(), "--server", kUrl + "=" + out.path(), "--start", "2026-12-24 07:58",
                             "--until", "2026-12-24 08:30", "--json"});
    std::string reports;
    for (const json& r : day.records) {
      if (r["kind"] != "event") continue;
      EXPECT_NE(r["type"], 1) << r["text"];
      if (r["text"].get<std::string>().starts_with("Kalmora: Online update finished.")) reports += r["text"];
    }
    for (const std::string& sentence : c.reported) EXPECT_NE(reports.find(sentence), std::string::npos) << reports;
  }
}

}  // namespace
}  // namespace kalmora::testing
