// The kalmora-sim command as scripts see it: the built binary, its options,
// exit status, records and their fields, and that its output is repeatable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "sim_fixture.h"
#include "update/versions.h"

extern char** environ;

namespace kalmora::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using Args = std::vector<std::string>;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Outcome {
  int status = -1;
  std::string out, err;
  std::vector<json> Of(const std::string& kind = "") const {
    std::vector<json> r;
    size_t pos = 0;
    for (size_t end; (end = out.find('\n', pos)) != std::string::npos; pos = end + 1) {
      json x = json::parse(out.substr(pos, end - pos));
      if (kind.empty() || x["kind"] == kind) r.push_back(std::move(x));
    }
    EXPECT_EQ(pos, out.size()) << "the last record ends without a line end";
    return r;
  }
};

// Runs the binary without a shell, its output going to files; `tmpdir`
// becomes its TMPDIR when given.
Outcome Sim(Args args, const std::string& tmpdir = "") {
  args.insert(args.begin(), KALMORA_SIM_BINARY);
  Args env = {"TMPDIR=" + (tmpdir.empty() ? fs::temp_directory_path().string() : tmpdir)};
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("TMPDIR=", 0) != 0) env.push_back(*e);
  }
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  for (auto& e : env) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  ScratchDir io;
  const std::string out = io.path() + "/out", err = io.path() + "/err";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  Outcome o;
  pid_t pid = 0;
  int status = 0;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) == 0 && waitpid(pid, &status, 0) == pid &&
      WIFEXITED(status)) {
    o.status = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&fa);
  o.out = ReadAll(out);
  o.err = ReadAll(err);
  return o;
}

const std::string kUrl = "http://127.0.0.1/upd/";

class KalmoraSim : public ::testing::Test {
 protected:
  void SetUp() override {
    prog_.Write(
        "kalmora.ini",
        Ini("ShutdownEnabled=1\nShutdownDelay=30\nBeepOnShutdown=-1\nMsgOnShutdownEmail=1\nMsgOnShutdownSession=1\n"
            "UpdateEnabled=1\nUpdateServer=" +
                kUrl + "\n",
            "24.12.#### = Christmas Eve\n", "", "EmailAddress=it@example.com\n"));
    prog_.Write("system/send.bat", "@echo off\r\n");
    server_.Write("versions.idx.new", Crlf("[Versions]\nExeVersion=1.0.6\nIniVersion=8\n"));
    server_.Write("kalmora.exe.new", MakeStandInExecutable({1, 0, 6}, "kalmora"));
  }
  // Christmas Eve from 07:58 in the program directory, with the update
  // server and JSON Lines, after the options given.
  Outcome Day(Args args, const std::string& tmpdir = "") const {
    args.insert(args.end(), {"--dir", prog_.path(), "--server", kUrl + "=" + server_.path(), "--start",
                             "2026-12-24 07:58", "--json"});
    return Sim(args, tmpdir);
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
      {{"--bogus"}, "--bogus"}, {{"stray"}, "stray"},
      // clang-format on
  };
  for (const auto& [args, names] : cases) {
    Outcome o = Sim(args);
    EXPECT_EQ(o.status, 2) << args[0];
    EXPECT_TRUE(o.out.empty()) << args[0];
    EXPECT_NE(o.err.find(names), std::string::npos) << o.err;
  }
  EXPECT_FALSE(fs::exists(p + "/inside"));
}

TEST_F(KalmoraSim, ArgsIsTakenExactly) {
  const std::pair<Args, const char*> cases[] = {{{"--args", "-debug"}, "-debug"},         {{"--args=-debug"}, "-debug"},
                                                {{"--args", "-install x"}, "-install x"}, {{"--args", ""}, ""},
                                                {{"--args", "--json"}, "--json"},         {{}, ""}};
  for (auto [args, seen] : cases) {
    args.insert(args.end(), {"--until", "2026-12-24 07:58:05"});
    Outcome o = Day(args);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.Of().at(0)["args"], seen);
  }
  // Kalmora acts on it.
  EXPECT_EQ(Day({"--args", "-debug"}).Of("service").at(0)["call"], "SetDebugMode");
}

TEST_F(KalmoraSim, StartUntilServiceAndStopAt) {
  for (const std::string start : {"2026-12-24 07:58", "2026-12-24 07:58:30", "2028-02-29 23:59:59.999"}) {
    Outcome o = Sim({"--dir", prog_.path(), "--start", start, "--until", start, "--json"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.Of().at(0)["t"], start + std::string(":00.000").substr(start.size() - 16));
    EXPECT_EQ(o.Of().back()["reason"], "until");
  }
  const auto by_hand = Day({"--until", "2026-12-24 07:58:05"}).Of();
  const auto stopped = Day({"--service", "--stop-at", "2026-12-24 07:59"}).Of();
  EXPECT_EQ(by_hand.at(0)["service"], false);
  EXPECT_EQ(stopped.at(0)["service"], true);
  EXPECT_EQ(Lines(by_hand).back(), "07:58:05.000 exit until");
  EXPECT_EQ(Lines(stopped).back(), "07:59:00.000 exit stop");
}

TEST_F(KalmoraSim, WorkDirectoryKeptOrRemoved) {
  const std::string work = scratch_.path() + "/new/work", ini = ReadAll(prog_.path() + "/kalmora.ini");
  ASSERT_EQ(Day({"--work", work}).status, 0);
  // --dir is never changed.
  EXPECT_EQ(std::distance(fs::recursive_directory_iterator(prog_.path()), {}), 3);
  EXPECT_EQ(ReadAll(prog_.path() + "/kalmora.ini"), ini);
  EXPECT_EQ(ReadAll(work + "/system/send.bat"), "@echo off\r\n");
  EXPECT_EQ(StampedVersion(ReadAll(work + "/kalmora.exe")).value_or(ProgramVersion{}).revision, 6)
      << "updated in the work directory";
  EXPECT_TRUE(LooksLikeWindowsExecutable(ReadAll(work + "/zorvane.exe")));
  // An existing empty directory will do as well.
  fs::create_directory(scratch_.path() + "/empty");
  EXPECT_EQ(Day({"--work", scratch_.path() + "/empty"}).status, 0);
  EXPECT_TRUE(fs::exists(scratch_.path() + "/empty/kalmora.ini"));
  // Without --work the run's directory goes at the end.
  fs::remove_all(scratch_.path() + "/empty");
  fs::remove_all(scratch_.path() + "/new");
  Outcome o = Day({}, scratch_.path());
  EXPECT_FALSE(o.Of("download").empty());
  EXPECT_TRUE(fs::is_empty(scratch_.path()));
}

// The child programs and the update server behave as the options say.
TEST_F(KalmoraSim, ChildProgramsAsTold) {
  EXPECT_EQ(Day({}).Of("download").at(0)["saved"], true);
  Outcome o = Day({"--without", "curl", "--without", "send.bat"});
  ASSERT_EQ(o.Of("spawn").size(), 2u) << o.err;
  for (auto& s : o.Of("spawn")) EXPECT_EQ(s["ok"], false) << s;
  EXPECT_TRUE(o.Of("download").empty() && o.Of("mail").empty());
  const json zorvane = Day({"--without", "zorvane"}).Of("spawn").at(2);
  EXPECT_EQ(zorvane["cmd"], "zorvane.exe -updateexe kalmora");
  EXPECT_EQ(zorvane["ok"], false);
  // Slow, broken off, failing: each shows in the records at its moment.
  Strings ends;
  for (const json& e : Day({"--server-delay", "2.5", "--server-fault", "kalmora.exe.new=0.5", "--send-delay", "4",
                            "--exit-status", "send.bat=3", "--until", "2026-12-24 07:59"})
                           .Of()) {
    if (e["kind"] == "end" || e["kind"] == "download") ends.push_back(Lines({e}).at(0));
  }
  EXPECT_EQ(ends,
            (Strings{"07:58:12.500 download " + kUrl + "kalmora/versions.idx.new versions.idx.new",
                     "07:58:12.500 end system\\curl -O -s " + kUrl + "kalmora/versions.idx.new 0 2.5",
                     // At least three seconds after the index's start; then both files.
                     "07:58:18.000 download " + kUrl + "kalmora/kalmora.exe.new kalmora.exe.new 512",
                     "07:58:18.000 download " + kUrl + "kalmora/kalmora.ini.new kalmora.ini.new",
                     "07:58:18.000 end system\\curl -O -s " + kUrl + "kalmora/{kalmora.exe,kalmora.ini}.new 18 5.0",
                     "07:58:22.000 end system\\send.bat 3 4.0"}));
  // Missing on the server: its error page is saved.
  fs::remove(server_.path() + "/versions.idx.new");
  const std::string work = scratch_.path() + "/w";
  ASSERT_EQ(Day({"--work", work}).status, 0);
  EXPECT_NE(ReadAll(work + "/versions.idx.new").find("404 Not Found"), std::string::npos);
}

// The same input gives the same bytes, as JSON Lines or readable text, where
// multi-line texts are indented beneath their record.
TEST_F(KalmoraSim, SameInputSameBytes) {
  for (const char* format : {"--json", "--service"}) {
    Args args = {
        "--dir", prog_.path(), "--start", "2026-12-24 07:58", "--service", "--server", kUrl + "=" + server_.path(),
        format};
    Outcome a = Sim(args), b = Sim(args);
    ASSERT_EQ(a.status, 0) << a.err;
    EXPECT_GT(a.out.size(), 1000u);
    EXPECT_EQ(a.out, b.out);
  }
  const std::string readable =
      Sim({"--dir", prog_.path(), "--start", "2026-12-24 07:58", "--server", kUrl + "=" + server_.path()}).out;
  EXPECT_EQ(readable.rfind("2026-12-24 07:58:00.000  kalmora start", 0), 0u);
  EXPECT_NE(readable.find("\n        | Kalmora: Online update finished. Results:\n        | \n        | Local  Exe"),
            std::string::npos);
}

// Every record kind with exactly the fields the contract gives it; "?" marks
// a field that not every record of the kind carries.
TEST_F(KalmoraSim, RecordKindsAndFields) {
  std::vector<json> all;
  for (const Args& args :
       {Args{"--args", ""}, Args{"--args", "-install"}, Args{"--args", "-uninstall"}, Args{"--args", "x"},
        Args{"--server-fault", "kalmora.exe.new=0.5", "--send-delay", "1", "--sleep",
             "2026-12-24 07:59..2026-12-24 07:59:30"}}) {
    Args service = args;
    service.push_back("--service");
    Outcome o = Day(service);
    ASSERT_EQ(o.status, 0) << o.err;
    auto r = o.Of();
    all.insert(all.end(), r.begin(), r.end());
  }
  // After "t", "program" and "kind", each kind's fields in order, "?" after
  // one that not every record of the kind carries.
  const std::map<std::string, std::string> fields = {
      {"start", "args:string service:boolean"},
      {"service", "call:string arg:? result:boolean?"},
      {"msgbox", "caption:string text:string icon:string"},
      {"event", "type:number id:number text:string"},
      {"spawn", "cmd:string ok:boolean"},
      {"download", "url:string file:string saved:boolean cut_at:number?"},
      {"end", "cmd:string status:number seconds:number ended_by:string?"},
      {"mail", "text:string"},
      {"file", "op:string name:string to:string? ok:boolean"},
      {"beep", "hz:number ms:number"},
      {"halt", "flags:number reason:number"},
      {"exit", "reason:string"},
      {"session", "title:string text:string timeout:number"},
      {"suspend", "until:string"},
      {"resume", ""}};
  const std::map<std::string, std::set<std::string>> values = {
      {"program", {"kalmora", "zorvane"}},
      {"icon", {"information", "warning", "none"}},
      {"op", {"delete", "rename"}},
      {"reason", {"halt", "stop", "exit-timer", "config", "update", "command", "command-failed", "done", "until"}}};
  const std::regex time(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})");
  std::set<std::string> kinds, calls;
  for (const json& r : all) {
    ASSERT_GE(r.size(), 3u);
    std::string got, want;
    for (auto& [k, v] : r.items()) {
      got += k + ":" + (k == "t" || k == "program" || k == "kind" || k == "arg" ? "" : v.type_name()) + " ";
      EXPECT_TRUE(!values.count(k) || !v.is_string() || values.at(k).count(v.get<std::string>())) << r;
    }
    const std::string kind = r["kind"];
    kinds.insert(kind);
    std::istringstream wanted(fields.count(kind) ? fields.at(kind) : "?");
    for (std::string f; wanted >> f;) {
      const bool optional = f.back() == '?';
      if (optional) f.pop_back();
      if (!optional || r.contains(f.substr(0, f.find(':')))) want += f + " ";
    }
    EXPECT_EQ(got, "t: program: kind: " + want) << r;
    EXPECT_TRUE(std::regex_match(r["t"].get<std::string>(), time)) << r;
    if (kind == "service") {
      calls.insert(r["call"].get<std::string>());
      EXPECT_EQ(r.contains("result"), r["call"] == "RegisterService" || r["call"] == "UnregisterService") << r;
    }
    EXPECT_TRUE(kind != "file" || r.contains("to") == (r["op"] == "rename")) << r;
  }
  EXPECT_EQ(kinds.size(), fields.size()) << "every kind shows up";
  EXPECT_EQ(calls, (std::set<std::string>{"SetAcceptedControls", "ConnectServiceManager", "SetInteractiveDesktop",
                                          "SetStartType", "RegisterService", "UnregisterService"}));
}

}  // namespace
}  // namespace kalmora::testing
