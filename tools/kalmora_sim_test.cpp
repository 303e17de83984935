// The kalmora-sim command as scripts see it: the built binary, its options,
// exit status and records.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "sim_fixture.h"
#include "update/versions.h"

extern char** environ;

namespace kalmora {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using testing::Crlf;
using testing::Ini;
using testing::ScratchDir;

struct Outcome {
  int status = -1;
  std::string out, err;
  std::vector<json> Records() const {
    std::vector<json> r;
    size_t pos = 0;
    for (size_t end; (end = out.find('\n', pos)) != std::string::npos; pos = end + 1) {
      r.push_back(json::parse(out.substr(pos, end - pos)));
    }
    EXPECT_EQ(pos, out.size()) << "the last record ends without a line end";
    return r;
  }
  std::vector<json> Of(const std::string& kind) const {
    std::vector<json> r;
    for (auto& x : Records()) {
      if (x["kind"] == kind) r.push_back(x);
    }
    return r;
  }
};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the binary without a shell; `tmpdir` becomes its TMPDIR when given.
// Standard error goes to a file, standard output through a pipe.
Outcome Sim(std::vector<std::string> args, const std::string& tmpdir = "") {
  args.insert(args.begin(), KALMORA_SIM_BINARY);
  std::vector<std::string> env;
  if (!tmpdir.empty()) env.push_back("TMPDIR=" + tmpdir);
  for (char** e = environ; *e; ++e) {
    if (tmpdir.empty() || std::string(*e).rfind("TMPDIR=", 0) != 0) env.push_back(*e);
  }
  auto pointers = [](std::vector<std::string>& v) {
    std::vector<char*> p;
    for (auto& s : v) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
  };
  ScratchDir err_dir;
  const std::string err_file = err_dir.path() + "/stderr";
  Outcome o;
  int out[2];
  if (pipe(out) != 0) return o;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  posix_spawn_file_actions_addclose(&fa, out[1]);
  posix_spawn_file_actions_addopen(&fa, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, args[0].c_str(), &fa, nullptr, pointers(args).data(), pointers(env).data());
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  char buf[65536];
  for (ssize_t n; rc == 0 && (n = read(out[0], buf, sizeof buf)) > 0;) o.out.append(buf, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  if (rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) o.status = WEXITSTATUS(status);
  o.err = ReadAll(err_file);
  return o;
}

std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (auto& e : fs::recursive_directory_iterator(dir)) {
    files[fs::relative(e.path(), dir).string()] = e.is_regular_file() ? ReadAll(e.path()) : "<dir>";
  }
  return files;
}

const std::string kUrl = "http://127.0.0.1/upd/";
const std::vector<std::string> kDay = {"--start", "2026-12-24 07:58", "--json"};

std::vector<std::string> Args(std::vector<std::string> head, const std::vector<std::string>& tail = kDay) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

class KalmoraSim : public ::testing::Test {
 protected:
  void SetUp() override {
    prog_.Write("kalmora.ini", Ini("ShutdownEnabled=1\nShutdownDelay=30\nBeepOnShutdown=-1\nMsgOnShutdownEmail=1\n"
                                   "UpdateEnabled=1\nUpdateServer=" +
                                       kUrl + "\n",
                                   "24.12.#### = Christmas Eve\n", "", "EmailAddress=it@example.com\n"));
    prog_.Write("system/send.bat", "@echo off\r\n");
    server_.Write("versions.idx.new", Crlf("[Versions]\nExeVersion=1.0.6\nIniVersion=8\n"));
    server_.Write("kalmora.exe.new", MakeStandInExecutable({1, 0, 6}, "kalmora"));
  }
  std::vector<std::string> Server() const { return {"--server", kUrl + "=" + server_.path()}; }

  ScratchDir prog_, server_, scratch_;
};

TEST_F(KalmoraSim, UnusableArgumentsExitWithStatusTwoAndSayWhy) {
  scratch_.Write("full/x", "x");
  scratch_.Write("file", "x");
  const std::string p = prog_.path();
  struct {
    std::vector<std::string> args;
    const char* names;
  } cases[] = {
      {{"--start", "2026-12-24"}, "--start"},
      {{"--start", "2026-02-30 08:00"}, "--start"},
      {{"--start", "2026-12-24 08:00:00.5"}, "--start"},
      {{"--until", "tomorrow"}, "--until"},
      {{"--start", "2026-12-24 08:00", "--until", "2026-12-24 07:00"}, "--until"},
      {{"--stop-at", "soon"}, "--stop-at"},
      {{"--dir", scratch_.path() + "/missing"}, "--dir"},
      {{"--dir", p, "--work", scratch_.path() + "/full"}, "--work"},
      {{"--dir", p, "--work", scratch_.path() + "/file"}, "--work"},
      {{"--dir", p, "--work", p + "/inside"}, "--work"},
      {{"--server", kUrl}, "--server"},
      {{"--server", kUrl + "=" + scratch_.path() + "/missing"}, "--server"},
      {{"--without", "bash"}, "--without"},
      {{"--args"}, "--args"},
      {{"--args", "a", "--args=b"}, "--args"},
      {{"--bogus"}, "--bogus"},
      {{"stray"}, "stray"},
  };
  for (const auto& c : cases) {
    Outcome o = Sim(c.args);
    EXPECT_EQ(o.status, 2) << c.args[0];
    EXPECT_TRUE(o.out.empty()) << c.args[0];
    EXPECT_NE(o.err.find(c.names), std::string::npos) << o.err;
  }
  EXPECT_FALSE(fs::exists(p + "/inside"));
}

TEST_F(KalmoraSim, ArgsIsTakenExactly) {
  struct {
    std::vector<std::string> args;
    std::string seen;
    std::string first_service_call;
  } cases[] = {
      {{"--args", "-debug"}, "-debug", "SetDebugMode"},
      {{"--args=-debug"}, "-debug", "SetDebugMode"},
      {{"--args", "-install x"}, "-install x", ""},
      {{"--args=-install"}, "-install", "SetInteractiveDesktop"},
      {{"--args", ""}, "", "SetAcceptedControls"},
      {{"--args", "--json"}, "--json", ""},
      {{}, "", "SetAcceptedControls"},
  };
  for (const auto& c : cases) {
    Outcome o = Sim(Args(
        c.args, {"--dir", prog_.path(), "--start", "2026-12-24 07:58", "--until", "2026-12-24 07:58:05", "--json"}));
    ASSERT_EQ(o.status, 0) << o.err;
    auto records = o.Records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0]["args"], c.seen);
    auto calls = o.Of("service");
    if (c.first_service_call.empty()) {
      EXPECT_TRUE(calls.empty());
      EXPECT_EQ(o.Of("msgbox").at(0)["text"], "Invalid command line parameter.");
    } else {
      ASSERT_FALSE(calls.empty());
      EXPECT_EQ(calls[0]["call"], c.first_service_call);
    }
  }
}

TEST_F(KalmoraSim, StartFormats) {
  for (auto [start, t] :
       std::vector<std::pair<std::string, std::string>>{{"2026-12-24 07:58", "2026-12-24 07:58:00.000"},
                                                        {"2026-12-24 07:58:30", "2026-12-24 07:58:30.000"},
                                                        {"2026-12-24 07:58:30.250", "2026-12-24 07:58:30.250"},
                                                        {"2028-02-29 23:59:59.999", "2028-02-29 23:59:59.999"}}) {
    Outcome o = Sim({"--dir", prog_.path(), "--start", start, "--until", start, "--json"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.Records().at(0)["t"], t);
    EXPECT_EQ(o.Records().back()["reason"], "until");
  }
}

TEST_F(KalmoraSim, ServiceStopAtAndUntil) {
  const std::vector<std::string> dir = {"--dir", prog_.path(), "--start", "2026-12-24 07:58", "--json"};
  Outcome by_hand = Sim(Args({"--until", "2026-12-24 07:58:05"}, dir));
  EXPECT_EQ(by_hand.Records()[0]["service"], false);
  EXPECT_EQ(by_hand.Records().back(),
            (json{{"t", "2026-12-24 07:58:05.000"}, {"program", "kalmora"}, {"kind", "exit"}, {"reason", "until"}}));

  Outcome stopped = Sim(Args({"--service", "--stop-at", "2026-12-24 07:59"}, dir));
  EXPECT_EQ(stopped.Records()[0]["service"], true);
  EXPECT_EQ(stopped.Records().back()["t"], "2026-12-24 07:59:00.000");
  EXPECT_EQ(stopped.Records().back()["reason"], "stop");
  EXPECT_TRUE(stopped.Of("event").empty()) << "stopped inside the settling wait";

  // Under the service manager the configuration is read after the settling
  // wait, so the update starts at 08:00:00.5.
  Outcome service = Sim(Args({"--service", "--until", "2026-12-24 08:01"}, dir));
  ASSERT_FALSE(service.Of("spawn").empty());
  EXPECT_EQ(service.Of("spawn")[0]["t"], "2026-12-24 08:00:00.500");
}

TEST_F(KalmoraSim, DirIsCopiedIntoAKeptWorkDirectory) {
  const auto before = Snapshot(prog_.path());
  const std::string work = scratch_.path() + "/new/work";
  Outcome o = Sim(Args({"--dir", prog_.path(), "--work", work}, Args(Server())));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Snapshot(prog_.path()), before) << "--dir is never changed";
  EXPECT_EQ(ReadAll(work + "/system/send.bat"), "@echo off\r\n");
  EXPECT_EQ(StampedVersion(ReadAll(work + "/kalmora.exe")).value_or(ProgramVersion{}).revision, 6)
      << "updated in the work directory";
  EXPECT_TRUE(LooksLikeWindowsExecutable(ReadAll(work + "/zorvane.exe")));

  // An existing empty directory will do as well.
  fs::create_directory(scratch_.path() + "/empty");
  EXPECT_EQ(Sim(Args({"--dir", prog_.path(), "--work", scratch_.path() + "/empty"})).status, 0);
  EXPECT_TRUE(fs::exists(scratch_.path() + "/empty/kalmora.ini"));
}

TEST_F(KalmoraSim, TemporaryWorkDirectoryIsRemoved) {
  Outcome o = Sim(Args({"--dir", prog_.path()}, Args(Server())), scratch_.path());
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_FALSE(o.Of("download").empty());
  EXPECT_TRUE(fs::is_empty(scratch_.path()));
}

TEST_F(KalmoraSim, ServerSavesWhatItHasAndErrorPagesForTheRest) {
  const std::string work = scratch_.path() + "/w";
  Outcome o = Sim(Args({"--dir", prog_.path(), "--work", work}, Args(Server())));
  auto d = o.Of("download");
  ASSERT_GE(d.size(), 3u);
  EXPECT_EQ(d[0], (json{{"t", "2026-12-24 07:58:10.000"},
                        {"program", "kalmora"},
                        {"kind", "download"},
                        {"url", kUrl + "kalmora/versions.idx.new"},
                        {"file", "versions.idx.new"},
                        {"saved", true}}));
  // The brace list fetches both; the server lacks kalmora.ini.new and sends
  // its error page, which Kalmora refuses.
  EXPECT_EQ(d[1]["url"], kUrl + "kalmora/kalmora.exe.new");
  EXPECT_EQ(d[2]["url"], kUrl + "kalmora/kalmora.ini.new");
  EXPECT_EQ(d[2]["saved"], true);
  EXPECT_EQ(o.Of("event")[0]["text"].get<std::string>().rfind(
                "Kalmora: The configuration file kalmora.ini.new (version 8) was not installed and was deleted: ", 0),
            0u);

  // Without a local index the downloaded one stays: here it is an error page.
  fs::remove(server_.path() + "/versions.idx.new");
  const std::string work2 = scratch_.path() + "/w2";
  ASSERT_EQ(Sim(Args({"--dir", prog_.path(), "--work", work2}, Args(Server()))).status, 0);
  EXPECT_NE(ReadAll(work2 + "/versions.idx.new").find("404 Not Found"), std::string::npos);

  // Another URL reaches no server.
  Outcome elsewhere = Sim(Args({"--dir", prog_.path(), "--server", "http://127.0.0.2/=" + server_.path()}));
  EXPECT_EQ(elsewhere.Of("download").at(0)["saved"], false);
}

TEST_F(KalmoraSim, WithoutMakesAChildProgramMissing) {
  struct {
    const char* name;
    const char* cmd_start;
    const char* absent_kind;
    size_t starts;
  } cases[] = {{"curl", "system\\curl", "download", 1},
               {"send.bat", "system\\send.bat", "mail", 3},
               {"zorvane", "zorvane.exe", nullptr, 1}};
  for (const auto& c : cases) {
    Outcome o = Sim(Args({"--dir", prog_.path(), "--without", c.name}, Args(Server())));
    ASSERT_EQ(o.status, 0) << o.err;
    bool seen = false;
    for (auto& s : o.Of("spawn")) {
      if (s["cmd"].get<std::string>().rfind(c.cmd_start, 0) == 0) {
        seen = true;
        EXPECT_EQ(s["ok"], false) << c.name;
      }
    }
    EXPECT_TRUE(seen) << c.name;
    if (c.absent_kind) {
      EXPECT_TRUE(o.Of(c.absent_kind).empty()) << c.name;
    }
    EXPECT_EQ(o.Of("start").size(), c.starts) << c.name;
  }
  // Repeatable.
  Outcome both = Sim(Args({"--dir", prog_.path(), "--without", "curl", "--without", "send.bat"}, Args(Server())));
  for (auto& s : both.Of("spawn")) EXPECT_EQ(s["ok"], false) << s["cmd"];
}

TEST_F(KalmoraSim, SameInputSameBytes) {
  for (bool json_out : {true, false}) {
    std::vector<std::string> args = {"--dir", prog_.path(), "--start", "2026-12-24 07:58", "--service"};
    const auto server = Server();
    args.insert(args.end(), server.begin(), server.end());
    if (json_out) args.push_back("--json");
    Outcome a = Sim(args), b = Sim(args);
    ASSERT_EQ(a.status, 0) << a.err;
    EXPECT_GT(a.out.size(), 1000u);
    EXPECT_EQ(a.out, b.out);
  }
}

TEST_F(KalmoraSim, ReadableOutputIndentsMultiLineTexts) {
  Outcome o = Sim({"--dir", prog_.path(), "--start", "2026-12-24 07:58", "--server", Server()[1]});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.rfind("2026-12-24 07:58:00.000  kalmora start", 0), 0u);
  EXPECT_NE(
      o.out.find("\n        | Kalmora: Online update finished. Results:\n        | \n        | Local  ExeVersion = "
                 "1.0.5\n"),
      std::string::npos);
  EXPECT_NE(o.out.find("zorvane exit     done\n"), std::string::npos);
}

// Every record kind with exactly the fields the contract gives it; "?" marks
// a field that not every record of the kind carries.
TEST_F(KalmoraSim, RecordKindsAndFields) {
  std::vector<json> all;
  for (const char* args : {"", "-install", "-uninstall", "x"}) {
    Outcome o = Sim(Args({"--dir", prog_.path(), "--service", "--args", args}, Args(Server())));
    ASSERT_EQ(o.status, 0) << o.err;
    auto r = o.Records();
    all.insert(all.end(), r.begin(), r.end());
  }
  const std::map<std::string, std::map<std::string, std::string>> fields = {
      {"start", {{"args", "string"}, {"service", "boolean"}}},
      {"service", {{"call", "string"}, {"arg", "?"}, {"result", "boolean?"}}},
      {"msgbox", {{"caption", "string"}, {"text", "string"}, {"icon", "string"}}},
      {"event", {{"type", "number"}, {"id", "number"}, {"text", "string"}}},
      {"spawn", {{"cmd", "string"}, {"ok", "boolean"}}},
      {"download", {{"url", "string"}, {"file", "string"}, {"saved", "boolean"}}},
      {"mail", {{"text", "string"}}},
      {"file", {{"op", "string"}, {"name", "string"}, {"to", "string?"}, {"ok", "boolean"}}},
      {"beep", {{"hz", "number"}, {"ms", "number"}}},
      {"halt", {{"flags", "number"}, {"reason", "number"}}},
      {"exit", {{"reason", "string"}}},
  };
  const std::map<std::string, std::set<std::string>> values = {
      {"program", {"kalmora", "zorvane"}},
      {"icon", {"information", "warning", "none"}},
      {"op", {"delete", "rename"}},
      {"reason", {"halt", "stop", "exit-timer", "config", "update", "command", "done", "until"}}};
  const std::regex time(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})");
  std::set<std::string> kinds, calls;
  for (const json& r : all) {
    ASSERT_GE(r.size(), 3u);
    std::string first3;
    for (auto it = r.begin(); it != std::next(r.begin(), 3); ++it) first3 += it.key() + ",";
    EXPECT_EQ(first3, "t,program,kind,") << r;
    EXPECT_TRUE(std::regex_match(r["t"].get<std::string>(), time)) << r;
    const std::string kind = r["kind"];
    kinds.insert(kind);
    ASSERT_TRUE(fields.count(kind)) << r;
    const auto& want = fields.at(kind);
    for (auto& [k, v] : r.items()) {
      if (k == "t" || k == "kind") continue;
      EXPECT_TRUE(!values.count(k) || !v.is_string() || values.at(k).count(v.get<std::string>())) << r;
      if (k == "program") continue;
      ASSERT_TRUE(want.count(k)) << "unexpected " << k << " in " << r;
      const std::string type = want.at(k).substr(0, want.at(k).find('?'));
      EXPECT_TRUE(type.empty() || v.type_name() == type) << r;
    }
    for (auto& [k, type] : want) {
      EXPECT_TRUE(type.back() == '?' || r.contains(k)) << k << " missing in " << r;
    }
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
}  // namespace kalmora
