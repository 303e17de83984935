// The online update on the simulated host: what is fetched, put in place,
// handed over and reported, and that nothing refused replaces a live file.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <numeric>
#include <regex>

#include "config/rules.h"
#include "sim_fixture.h"
#include "update/signed_index.h"
#include "update/versions.h"

namespace kalmora::testing {
namespace {

const std::string kUrl = "http://127.0.0.1/upd/";

// "[Versions]" with ExeVersion and IniVersion from "EXE INI[\nmore keys]".
std::string Index(const std::string& versions) {
  const size_t blank = versions.find(' ');
  return Crlf("[Versions]\nExeVersion=" + versions.substr(0, blank) + "\nIniVersion=" + versions.substr(blank + 1) +
              "\n");
}
const std::string kOldIndex = Index("1.0.5 7");
std::string LocalIni(const std::string& server = kUrl, const std::string& enabled = "1") {
  return Ini("ShutdownEnabled=1\nUpdateEnabled=" + enabled + "\nUpdateServer=" + server + "\nUpdateTimeout=45\n",
             "24.12.#### = Christmas Eve\n");
}
// Another holiday name and delay, and message holidays that a transfer
// breaking off at a line end would lose without a word.
const std::string kServerIni =
    Ini("ShutdownEnabled=1\nShutdownDelay=60\nUpdateEnabled=1\nUpdateServer=" + kUrl + "\n",
        "24.12.#### = Server Eve\n", "01.12.####,a,b,c@example.com\n02.12.####,a,b,c@example.com\n03.12.####,a,b,c\n");
const std::string kOldExe = MakeStandInExecutable({1, 0, 5}, "kalmora");
const std::string kNewExe = MakeStandInExecutable({1, 0, 6}, "kalmora");
const char* const kDownloads[] = {"versions.idx.new", "versions.idx.sig", "kalmora.ini.new", "kalmora.exe.new",
                                  "curl-answers.txt"};

// Upper case: the index may pin in either case.
std::string Sha256(const std::string& bytes) {
  unsigned char d[32];
  EVP_Digest(bytes.data(), bytes.size(), d, nullptr, EVP_sha256(), nullptr);
  std::string hex;
  for (unsigned char b : d) hex += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return hex;
}

// What a run did: its error entries, the first line of its holiday entries
// after "Today is holiday ", and each update report in brief, "local>server
// exe, local>server ini: outcome", the fixed sentences as "+ini", "+exe",
// "-ini:", "-exe:", "no-index" and "none".
struct Update {
  explicit Update(SimRun r) : run(std::move(r)) {
    // clang-format off
    static const std::pair<const char*, const char*> brief[] = {
        {"Kalmora: Online update finished. Results:\r\n\r\nLocal  ExeVersion = ", ""}, {"\r\nServer ExeVersion = ", ">"},
        {"\r\n\r\nLocal  IniVersion = ", ", "}, {"\r\nServer IniVersion = ", ">"}, {"\r\n\r\n", ": "}, {"\r\n", " "},
        {"Configuration file updated to version 8.", "+ini"}, {"Configuration file version 8 was not installed:", "-ini:"},
        {"Program file version 1.0.6 was handed to the update helper, which puts it in place and starts it.", "+exe"},
        {"Program file version 1.0.6 was not installed:", "-exe:"}, {"No files were updated.", "none"},
        {"The Version Index file could not be downloaded or is corrupt. Please check network connectivity and make "
         "sure the update server is reachable.", "no-index"}};
    // clang-format on
    for (const auto& e : run.Of("event")) {
      std::string text = e["text"];
      if (e["type"] == 1) errors.push_back(text);
      if (text.rfind("Kalmora: Today is holiday ", 0) == 0) holidays.push_back(text.substr(26, text.find('\r') - 26));
      if (text.rfind("Kalmora: Online update", 0) != 0) continue;
      for (auto [from, to] : brief) text = ReplaceAll(text, from, to);
      reports.push_back(text);
    }
  }
  SimRun run;
  Strings errors, holidays, reports;
};

class OnlineUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    prog_.Write("kalmora.ini", LocalIni());
    prog_.Write("versions.idx", kOldIndex);
    prog_.Write("kalmora.exe", kOldExe);
    for (const char* offered : kDownloads) server_.Remove(offered);
  }
  // A fresh program directory, and the server offering this index and
  // files; it answers 404 for what it does not offer.
  void Offer(const std::string& index, const std::string& ini = "", const std::string& exe = "") {
    SetUp();
    server_.Write("versions.idx.new", index);
    if (!ini.empty()) server_.Write("kalmora.ini.new", ini);
    if (!exe.empty()) server_.Write("kalmora.exe.new", exe);
  }
  Update Run(SimSetup run_setup = {}) {
    if (run_setup.server_url.empty()) run_setup.server_url = kUrl;
    run_setup.server_dir = server_.path();
    return Update(RunSim(prog_, run_setup));
  }
  // The live files after a run, and no download left beside them.
  void ExpectInPlace(const std::string& ini, const std::string& exe, const std::string& index) {
    EXPECT_EQ(prog_.Read("kalmora.ini"), ini);
    EXPECT_EQ(prog_.Read("kalmora.exe"), exe);
    EXPECT_EQ(prog_.Read("versions.idx"), index);
    for (const char* left : kDownloads) EXPECT_FALSE(prog_.Exists(left)) << left;
  }
  ScratchDir prog_, server_;
};

// What each run fetched, put in place or handed over, and reported. Nothing
// refused or missing replaces a live file, and the local index keeps the
// version not installed, so the next start tries again. The day goes on from
// the configuration in place, and each failure the report gives has its
// error entry.
TEST_F(OnlineUpdate, WhatIsNewerIsPutInPlaceOrHandedOverOrRefused) {
  const std::string no_ini = "-ini: the server answered 404 Not Found for kalmora.ini.new.";
  const std::string ini_no = "1.0.5>1.0.5, 7>8: -ini: ", exe_no = "1.0.5>1.0.6, 7>7: -exe: ";
  const std::string failed = "1.0.5>NO_UPDATE, 7>NO_UPDATE: no-index Its transfer failed: ";
  const std::string not_found = "could not be started (The system cannot find the file specified.)";
  const std::string closed = "the connection was closed before the file was complete (curl status 18)";
  std::string unstamped = kNewExe;  // whole, but says nothing of its version
  unstamped[unstamped.find("\xBD\x04\xEF\xFE")] = 0;
  const std::string pinned = Index("1.0.6 8\nIniSha256=" + Sha256(kServerIni) + "\nExeSha256=" + Sha256(kNewExe));
  const struct {
    std::string index, ini, exe;  // offered; the server answers 404 for what is not
    Strings reports;
    size_t errors = 0;
    bool new_index = false;  // versions.idx is then the server's
    SimSetup run = {};
    std::string server = kUrl, local_index = kOldIndex;
  } cases[] = {
      // clang-format off
      {kOldIndex, kServerIni, kNewExe, {"1.0.5>1.0.5, 7>7: none"}},
      // No local IniVersion counts as "0".
      {Index("1.0.5 8"), kServerIni, "", {"1.0.5>1.0.5, 0>8: +ini"}, 0, true, {}, kUrl, ""},
      // The new program knows its version and finds nothing newer.
      {Index("1.0.6 7"), "", kNewExe, {"1.0.5>1.0.6, 7>7: +exe", "1.0.6>1.0.6, 7>7: none"}, 0, true},
      // One transfer for both, pinned, on a link slow enough that only
      // waiting for curl to end gets the files.
      {pinned, kServerIni, kNewExe, {"1.0.5>1.0.6, 7>8: +ini +exe", "1.0.6>1.0.6, 8>8: none"}, 0, true,
       {.server_delay_ms = 20000}},
      // The program is tried again at the next start: the running one is older.
      // A file the server lacks costs only that file, though one curl run
      // fetches both.
      {Index("1.0.6 8"), kServerIni, "", {"1.0.5>1.0.6, 7>8: +ini -exe: the server answered 404 Not Found for "
       "kalmora.exe.new."}, 1, true},
      // The hand-over goes ahead; the new program sees the old IniVersion.
      {Index("1.0.6 8"), "", kNewExe, {"1.0.5>1.0.6, 7>8: " + no_ini + " +exe",
       "1.0.6>1.0.6, 7>8: " + no_ini + " none"}, 2},
      // The index kept from a hand-over says NO_UPDATE: no version at all.
      {Index("1.0.6 NO_UPDATE"), "", kNewExe, {"1.0.5>1.0.6, 7>NO_UPDATE: +exe no-index",
       "1.0.6>1.0.6, 0>NO_UPDATE: no-index none"}, 1, true},
      // No index: an error page, or a transfer that failed.
      {"<html>404</html>", kServerIni, kNewExe, {"1.0.5>NO_UPDATE, 7>NO_UPDATE: no-index none"}, 1},
      {Index("1.0.6 8"), "", "", {failed + "the update server could not be reached (curl status 7). none"}, 1, false,
       {}, ""},
      {Index("1.0.6 8"), "", "", {failed + "system\\curl " + not_found + ". none"}, 1, false, {.without = {"curl"}}},
      // A cut index could offer the program without its configuration line.
      {Index("1.0.6 8"), "", "", {failed + closed + ". none"}, 1, false, {.server_cut = {{"versions.idx.new", 0.7}}}},
      {Index("1.0.6 8"), "", "", {failed + "the transfer timed out after 45 s. none"}, 1, false,
       {.server_delay_ms = 60000}},
      // Refused downloads.
      {Index("1.0.5 8"), kServerIni.substr(0, kServerIni.find("Server Eve")), "", {ini_no + "it is not a readable "
       "configuration file (no line [MsgHolidays] after the list [ShutdownHolidays]). none"}, 1},
      {Index("1.0.5 8\nIniSha256=" + Sha256(kServerIni + " ")), kServerIni, "", {ini_no + "its SHA-256 does not "
       "match IniSha256 of the version index. none"}, 1},
      // Broken off at 90 %: what arrived would read as a configuration.
      {Index("1.0.5 8"), kServerIni, "", {ini_no + closed + ". none"}, 1, false, {.server_cut = {{"kalmora.ini.new", 0.9}}}},
      {Index("1.0.6 7"), "", "<html>Not here</html>", {exe_no + "it is not a Windows executable. none"}, 1},
      {Index("1.0.6 7\nExeSha256=" + Sha256("x")), "", kNewExe, {exe_no + "its SHA-256 does not match ExeSha256 of "
       "the version index. none"}, 1},
      // Either would be offered again as soon as it ran.
      {Index("1.0.6 7"), "", kOldExe, {exe_no + "it is stamped as version 1.0.5, not 1.0.6. none"}, 1},
      {Index("1.0.6 7"), "", unstamped, {exe_no + "it carries no version stamp. none"}, 1},
      // Whole as far as curl knew (the server's own file was damaged).
      {Index("1.0.6 7"), "", kNewExe.substr(0, 700), {exe_no + "it is incomplete: section 1 of 1 needs 1024 bytes, "
       "the file has 700. none"}, 1},
      // Broken off: the stamp sits in the last bytes, the reader never sees it.
      {Index("1.0.6 7"), "", kNewExe, {exe_no + closed + ". none"}, 1, false, {.server_cut = {{"kalmora.exe.new", 0.99}}}},
      // One transfer for both broke off: neither file is trusted.
      {Index("1.0.6 8"), kServerIni, kNewExe, {"1.0.5>1.0.6, 7>8: -ini: " + closed + ". -exe: " + closed + ". none"},
       2, false, {.server_cut = {{"kalmora.exe.new", 0.99}}}},
      // Accepted, so the index is swapped, but nobody takes it over.
      {Index("1.0.6 7"), "", kNewExe, {exe_no + "the update helper zorvane.exe " + not_found + ". none"}, 1, true,
       {.without = {"zorvane"}}},
      // clang-format on
  };
  // Each reason the reports give is in an error entry, and a missing index's
  // entry names where it was fetched from.
  static const std::regex reason("(?:-ini|-exe|transfer failed): (.*?)\\.(?= |$)");
  auto joined = [](const Strings& lines) {
    return std::accumulate(lines.begin(), lines.end(), std::string(), [](auto all, auto& l) { return all + l + " "; });
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reports[0]);
    Offer(c.index, c.ini, c.exe);
    const std::string ini = LocalIni(c.server), url = c.server + "kalmora/versions.idx.new";
    prog_.Write("kalmora.ini", ini);
    prog_.Write("versions.idx", c.local_index);
    Update u = Run(c.run);
    EXPECT_EQ(u.run.Of("spawn").at(0)["cmd"],
              "system\\curl -O -s -f -w \"%{http_code} %{filename_effective}\\n\" " + url);
    EXPECT_EQ(u.reports, c.reports);
    EXPECT_EQ(u.run.Of("start").size(), 2 * c.reports.size() - 1) << "Kalmora's, and Zorvane's at a hand-over";
    EXPECT_EQ(u.errors.size(), c.errors);
    const std::string said = joined(c.reports), errors = joined(u.errors);
    for (std::sregex_iterator m(said.begin(), said.end(), reason), end; m != end; ++m) {
      EXPECT_NE(errors.find(": " + m->str(1) + "."), std::string::npos) << errors;
    }
    EXPECT_EQ(errors.find(" from " + url + "\r\n") != std::string::npos, said.find("no-index") != std::string::npos);
    const bool new_ini = c.reports[0].find("+ini") != std::string::npos;
    ExpectInPlace(new_ini ? kServerIni : ini, c.reports.size() > 1 ? kNewExe : kOldExe,
                  c.new_index ? c.index : c.local_index);
    EXPECT_EQ(u.holidays, Strings{new_ini ? "'Server Eve'. The host will shut down in 60 seconds."
                                          : "'Christmas Eve'. The host will shut down in 180 seconds."});
  }
}

TEST_F(OnlineUpdate, OnlyAnUpdateEnabledOfOneUpdates) {
  for (const char* enabled : {"0", "", "yes", "2", "-1", " 1.0 "}) {
    prog_.Write("kalmora.ini", LocalIni(kUrl, enabled));
    Update u = Run();
    EXPECT_EQ(u.run.Of("file").empty() && u.run.Of("spawn").empty() && u.reports.empty(), enabled[0] != ' ') << enabled;
  }
}

TEST_F(OnlineUpdate, Timelines) {
  const std::pair<SimSetup, Strings> hand_overs[] = {
      // Kalmora ends after the report, before any holiday check; Zorvane
      // swaps three seconds later and starts the new program.
      {{},
       {"07:58:00.000 start", "07:58:16.000 exit update", "07:58:16.000 zorvane start -updateexe kalmora",
        "07:58:19.000 zorvane exit done", "07:58:19.000 start", "08:01:32.000 exit halt"}},
      // Under the service manager the service is reported stopped before the
      // hand-over and started again by the service manager, so a later stop
      // request still reaches the new program.
      {{.service = true, .stop_at = "2026-12-24 08:05"},
       {"07:58:00.000 start", "08:00:06.500 service ReportServiceStopped", "08:00:06.500 exit update",
        "08:00:06.500 zorvane start -updateexe kalmora", "08:00:09.500 zorvane service StartService Kalmora",
        "08:00:09.500 zorvane exit done", "08:00:09.500 start", "08:05:00.000 exit stop"}},
  };
  for (const auto& [run_setup, lines] : hand_overs) {
    Offer(Index("1.0.6 7"), "", kNewExe);
    Strings got = Run(run_setup).run.Lines({"start", "exit", "service"});
    std::erase_if(got, [](const std::string& line) {
      return line.find("service Set") != std::string::npos || line.find("ConnectServiceManager") != std::string::npos;
    });
    EXPECT_EQ(got, lines);
  }
  // Under the service manager the update starts at 08:00:00.5, after the
  // settling wait; a stop inside the index's pause ends the program there.
  Offer(Index("1.0.6 8"));
  Update u = Run({.service = true, .stop_at = "2026-12-24 08:00:02"});
  EXPECT_EQ(u.run.Lines({"exit"}), Strings{"08:00:02.000 exit stop"});
  EXPECT_TRUE(u.reports.empty() && prog_.Exists("versions.idx.new"));
  // The next start clears what was left.
  EXPECT_EQ(Run({.start = "2026-12-24 09:00"}).run.Lines({"file"}).at(0), "09:00:10.000 file delete versions.idx.new");
}

// A P-256 key pair made by libcrypto: the public key as `openssl ec -pubout`
// writes it, and DER signatures as `openssl dgst -sha256 -sign` makes them.
class TestKey {
 public:
  std::string PublicPem() const {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_PUBKEY(bio.get(), key_.get());
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(n));
  }
  std::string Sign(const std::string& bytes) const {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    std::string sig(80, '\0');  // a P-256 signature in DER takes at most 72 bytes
    size_t len = sig.size();
    EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key_.get());
    EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(sig.data()), &len,
                   reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return sig.substr(0, len);
  }

 private:
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_{EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"),
                                                           EVP_PKEY_free};
};

// With system\update-key.pem the index is read only when its signature
// verifies, it has not expired, pins what it offers and takes no host back.
// Each refusal is one error entry in words; nothing is replaced, versions.idx
// stays, and the day is decided from the configuration in place.
TEST_F(OnlineUpdate, WithAKeyOnlyASignedIndexIsRead) {
  const TestKey key, other;
  const std::string pins = "\nIniSha256=" + Sha256(kServerIni) + "\nExeSha256=" + Sha256(kNewExe);
  // "EXE INI" pinned, to expire at the end of January.
  auto offer = [&](const std::string& versions) { return Index(versions + pins + "\nExpires=2027-01-31"); };
  const std::string good = offer("1.0.6 8");
  std::string changed = good;
  changed[changed.find("8\r\n")] = '9';
  std::string damaged = kNewExe;  // same size, still stamped 1.0.6
  damaged[0x250] ^= 1;
  const struct {
    std::string index, error;             // error: the refusal's words, "" for none
    std::optional<std::string> sig = {};  // the key's signature of the index when not given
    std::string exe = kNewExe, key_file = "";
  } cases[] = {
      // clang-format off
      {good, ""}, {offer("1.0.5 7"), ""},
      // No signature on the server, and a page in its place.
      {good, "\r\n\r\nThe transfer failed: the server answered 404 Not Found for versions.idx.sig.", ""},
      {good, "refused: it is not signed: versions.idx.sig is no signature", "<html>Not here</html>"},
      {good, "refused: it is signed by another key", other.Sign(good)},
      {changed, "refused: it is signed by another key", key.Sign(good)},
      {Index("1.0.6 8" + pins + "\nExpires=2026-12-01"), "refused: it expired on 2026-12-01."},
      {Index("1.0.6 8" + pins), "refused: it carries no Expires=YYYY-MM-DD."},
      {Index("1.0.6 8\nExpires=2027-01-31"), "refused: it offers a program without ExeSha256."},
      // An older signed index served again before it expired.
      {offer("1.0.5 6"), "refused: it offers configuration version 6, older than the installed 7."},
      {offer("1.0.4 7"), "refused: it offers program version 1.0.4, older than the running 1.0.5."},
      {offer("1.0.6 7"), "kalmora.exe.new (version 1.0.6) was not installed and was deleted: its SHA-256 does not "
       "match ExeSha256", {}, damaged},
      {good, "stopped: the key file system\\update-key.pem is not a P-256 public key (it holds no PUBLIC KEY block). "
       "Nothing was downloaded.", {}, kNewExe, "not a key\r\n"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error.empty() ? c.index : c.error);
    Offer(c.index, kServerIni, c.exe);
    if (!c.sig || !c.sig->empty()) server_.Write("versions.idx.sig", c.sig.value_or(key.Sign(c.index)));
    prog_.Write("system/update-key.pem", c.key_file.empty() ? key.PublicPem() : c.key_file);
    Update u = Run();
    ASSERT_EQ(u.errors.size(), c.error.empty() ? 0u : 1u);
    for (const std::string& e : u.errors) EXPECT_NE(e.find(c.error), std::string::npos) << e;
    const bool installs = c.error.empty() && c.index == good;
    ExpectInPlace(installs ? kServerIni : LocalIni(), installs ? kNewExe : kOldExe, installs ? good : kOldIndex);
    EXPECT_EQ(u.holidays.size(), 1u);
  }
}

}  // namespace
}  // namespace kalmora::testing
