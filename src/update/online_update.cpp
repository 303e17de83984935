#include "update/online_update.h"

#include "config/numbers.h"
#include "notify/entries.h"
#include "update/signed_index.h"
#include "update/versions.h"

namespace kalmora {

// What one update run found and did.
struct Updater::UpdateRun {
  std::string LocalIniVersion;
  std::string ServerExeVersion;
  std::string ServerIniVersion;
  std::string ini_sha, exe_sha;  // optional pins of the index
  bool signed_index = false;     // a key is installed: the index was verified
  bool UpdateExe = false;
  bool UpdateIni = false;
  Status index;  // the index's transfer
  bool ini_installed = false;
  bool exe_handed_over = false;
  std::string ini_why, exe_why;  // why a newer file was not installed
};

namespace {

// The download pause: curl gets at least this long, as it always has.
constexpr int64_t kDownloadPauseMs = 3000;
// Where curl's -w lines go while it runs.
constexpr const char* kDownloadAnswers = "curl-answers.txt";

// An index without a pin for the file accepts it as before; with one, the
// file's SHA-256 must match it (hexadecimal in either case).
bool MatchesPin(Files& host, const std::string& file, const std::string& pin) {
  if (pin.empty()) return true;
  auto digest = host.Sha256OfFile(file);
  return digest && HexLower(*digest) == AsciiLower(TrimBlanks(pin));
}

// A download that will not be used goes at once, and the event log says why:
// the live file stays as it was.
void RefuseDownload(Host& host, const std::string& what, const std::string& download, const std::string& version,
                    const std::string& why, const std::string& live) {
  std::string text = "Kalmora: The " + what + " " + download + " (version " + version + ") was not installed";
  if (host.FileExists(download)) text += host.DeleteFile(download) ? " and was deleted" : " and could not be deleted";
  host.LogEvent(EventType::Error, EventId::Failure, text + ": " + why + ". The current " + live + " is kept.");
}

// An unsigned index without both versions is a damaged one. A verified
// index is what its publisher wrote: NO_UPDATE there means the file is not
// offered.
bool IndexMissing(bool signed_index, bool arrived, const std::string& ini_version, const std::string& exe_version) {
  if (signed_index) return !arrived;
  return ini_version == kNoUpdate || exe_version == kNoUpdate;
}

}  // namespace

// What one curl run brought: how curl itself fared, and the files that the
// server answered with an HTTP error (none of them saved).
struct Updater::Downloaded {
  Status run;
  std::map<std::string, std::string> missing;
  // One file's outcome: a file the server lacks costs only that file.
  Status Of(const std::string& file) const {
    auto it = missing.find(file);
    return it != missing.end() ? Status::Failure(it->second) : run;
  }
  // Whether every file came.
  Status All() const { return missing.empty() ? run : Status::Failure(missing.begin()->second); }
};

// curl is judged by its own exit status, never by a file that merely exists:
// a transfer that broke off leaves a file too. With -f a file the server
// lacks is not saved (its error page would be read as the file), and -w
// says for each file what the server answered; curl's status 22 only
// repeats that.
Updater::Downloaded Updater::Download(const std::string& files) {
  double seconds = settings().UpdateTimeout.value();
  if (!(seconds > 0) || seconds > 86400) seconds = settings().UpdateTimeout.fallback;
  const auto bound_ms = static_cast<int64_t>(seconds * 1000);
  ChildEnd end = waits_.RunChild("system\\curl -O -s -f -w \"" + std::string(kTransferWriteOut) + "\" " +
                                     settings().UpdateServer + "kalmora/" + files,
                                 kDownloadPauseMs, bound_ms, nullptr, kDownloadAnswers);
  const std::optional<std::string> answers = host_.ReadFile(kDownloadAnswers);
  if (answers) (void)host_.DeleteFile(kDownloadAnswers);
  Downloaded d{Status(), HttpErrors(answers.value_or(""))};
  if (!end.start) {
    d.run = Status::Failure("system\\curl could not be started (" + end.start.reason() + ")");
  } else if (!end.status) {
    d.run = Status::Failure("the transfer timed out after " + std::to_string(bound_ms / 1000) + " s");
  } else if (*end.status != 0 && !(*end.status == 22 && !d.missing.empty())) {
    d.run = Status::Failure(CurlFailureText(*end.status));
  }
  return d;
}

// A configuration from the network replaces the live one only when it reads
// cleanly: an error page or a truncated file must never cost a host its
// working kalmora.ini.
Status Updater::AcceptDownloadedConfiguration(const std::string& pinned_sha) {
  if (!host_.FileExists("kalmora.ini.new")) return Status::Failure("the download is missing");
  if (!MatchesPin(host_, "kalmora.ini.new", pinned_sha)) {
    return Status::Failure("its SHA-256 does not match IniSha256 of the version index");
  }
  ConfigReadResult r =
      ParseConfiguration(host_, host_, host_.ProgramDirectory() + "\\kalmora.ini.new", host_.Version().major);
  if (r.status != 0) return Status::Failure("it is not a readable configuration file (" + r.failure + ")");
  return Status();
}

// A program file is handed to Zorvane only when it is a whole Windows
// executable stamped with the offered version: a host must never be left
// with a kalmora.exe that cannot start, nor with one that would be offered
// the same update again as soon as it runs.
Status Updater::AcceptDownloadedProgram(const std::string& offered_version, const std::string& pinned_sha) {
  if (!host_.FileExists("kalmora.exe.new")) return Status::Failure("the download is missing");
  if (!MatchesPin(host_, "kalmora.exe.new", pinned_sha)) {
    return Status::Failure("its SHA-256 does not match ExeSha256 of the version index");
  }
  auto bytes = host_.ReadFile("kalmora.exe.new");
  if (!bytes) return Status::Failure("it could not be read");
  if (Status whole = CheckWindowsExecutable(*bytes); !whole) return whole;
  auto stamped = StampedVersion(*bytes);
  if (!stamped) return Status::Failure("it carries no version stamp");
  if (VersionText(*stamped) != VersionText(ParseServerVersion(offered_version).value_or(ProgramVersion{}))) {
    return Status::Failure("it is stamped as version " + VersionText(*stamped) + ", not " + offered_version);
  }
  return Status();
}

void Updater::SwapVersionIndex() {
  if (host_.FileExists("versions.idx.new")) (void)host_.ReplaceFile("versions.idx.new", "versions.idx");
}

void Updater::ReadServerIndex(UpdateRun& run) {
  const std::string server_index = host_.ProgramDirectory() + "\\versions.idx.new";
  // Part of an index could offer a program without its configuration line:
  // only a whole one is read.
  if (!run.index && host_.FileExists("versions.idx.new")) (void)host_.DeleteFile("versions.idx.new");
  run.ServerExeVersion = ReadProfileString(host_, "Versions", "ExeVersion", server_index, kNoUpdate);
  run.ServerIniVersion = ReadProfileString(host_, "Versions", "IniVersion", server_index, kNoUpdate);
  // Optional pins; servers without them work exactly as before.
  run.ini_sha = ReadProfileString(host_, "Versions", "IniSha256", server_index, "");
  run.exe_sha = ReadProfileString(host_, "Versions", "ExeSha256", server_index, "");
  // A signed index is ordered properly: the part-by-part comparison would
  // take 1.0.4 as newer than 1.1.0 and let an old signed program back in.
  run.UpdateExe = run.ServerExeVersion != kNoUpdate &&
                  (run.signed_index ? CompareProgramVersion(run.ServerExeVersion, host_.Version()).value_or(0) > 0
                                    : IsProgramNewer(run.ServerExeVersion, host_.Version()));
  run.UpdateIni = IsConfigurationNewer(run.ServerIniVersion, run.LocalIniVersion);
}

// Without the key file the update works as it always has. A key file that
// cannot be used stops the update: falling back to unsigned updates would
// hand the hosts to whoever can spoil one file.
Result<std::optional<std::string>> Updater::ReadUpdateKey() {
  using R = Result<std::optional<std::string>>;
  // Read first: a key file marked hidden is still the administrator's key,
  // though the directory search would not count it.
  auto pem = host_.ReadFile(kUpdateKeyFile);
  if (!pem && !host_.FileExists(kUpdateKeyFile)) return R(std::optional<std::string>());
  if (!pem) return R::Failure("the key file " + std::string(kUpdateKeyFile) + " could not be read");
  auto key = ReadP256PublicKeyPem(*pem);
  if (!key) {
    return R::Failure("the key file " + std::string(kUpdateKeyFile) + " is not a P-256 public key (" + key.reason() +
                      ")");
  }
  return R(std::optional<std::string>(*key));
}

// Until its signature verifies, the index is only bytes from the network:
// nothing in it is read before.
Status Updater::CheckSignedIndex(const std::string& key) {
  auto index = host_.ReadFile("versions.idx.new");
  if (!index) return Status::Failure("versions.idx.new could not be read");
  auto der = host_.ReadFile("versions.idx.sig");
  if (!der) return Status::Failure("it is not signed (no versions.idx.sig arrived)");
  auto rs = P256SignatureFromDer(*der);
  if (!rs) return Status::Failure("it is not signed: versions.idx.sig is no signature (" + rs.reason() + ")");
  auto verified = host_.VerifyP256Sha256(*index, key, *rs);
  if (!verified) {
    return Status::Failure("the key file " + std::string(kUpdateKeyFile) + " is not a P-256 public key (" +
                           verified.reason() + ")");
  }
  if (!*verified) return Status::Failure("it is signed by another key, or was changed after it was signed");
  // An old signed index must not be served again for ever.
  const std::string path = host_.ProgramDirectory() + "\\versions.idx.new";
  const std::string expires = ReadProfileString(host_, "Versions", "Expires", path, "");
  auto until = ParseIndexDate(TrimBlanks(expires));
  if (!until) return Status::Failure("it carries no Expires=YYYY-MM-DD");
  const LocalTime now = host_.Now();
  if (IndexDate{now.year, now.month, now.day} >= *until) {
    return Status::Failure("it expired on " + FormatIndexDate(*until));
  }
  return Status();
}

// What a verified index offers must be pinned, and must not take a host
// back to an older program or configuration (an older signed index sent
// again before it expired).
Status Updater::CheckSignedOffer(const UpdateRun& run) {
  if (run.ServerExeVersion != kNoUpdate && run.exe_sha.empty()) {
    return Status::Failure("it offers a program without ExeSha256");
  }
  if (run.ServerIniVersion != kNoUpdate && run.ini_sha.empty()) {
    return Status::Failure("it offers a configuration without IniSha256");
  }
  if (run.ServerExeVersion != kNoUpdate &&
      CompareProgramVersion(run.ServerExeVersion, host_.Version()).value_or(0) < 0) {
    return Status::Failure("it offers program version " + run.ServerExeVersion + ", older than the running " +
                           VersionText(host_.Version()));
  }
  if (run.ServerIniVersion != kNoUpdate && run.ServerIniVersion.compare(run.LocalIniVersion) < 0) {
    return Status::Failure("it offers configuration version " + run.ServerIniVersion + ", older than the installed " +
                           run.LocalIniVersion);
  }
  return Status();
}

// One error entry says why; nothing is installed and the local index stays,
// and the day goes on.
void Updater::RefuseIndex(const std::string& why) {
  (void)host_.DeleteFile("versions.idx.new");
  if (host_.FileExists("versions.idx.sig")) (void)host_.DeleteFile("versions.idx.sig");
  host_.LogEvent(EventType::Error, EventId::Failure,
                 "Kalmora: The version index " + settings().UpdateServer + "kalmora/versions.idx.new was refused: " +
                     why + ". Nothing was installed, and versions.idx is kept.");
}

void Updater::InstallConfiguration(UpdateRun& run, const Status& transfer) {
  Status ready = transfer ? AcceptDownloadedConfiguration(run.ini_sha) : transfer;
  if (ready) {
    Status replaced = host_.ReplaceFile("kalmora.ini.new", "kalmora.ini");
    run.ini_installed = replaced.ok();
    if (run.ini_installed) return;
    ready = Status::Failure("kalmora.ini could not be replaced (" + replaced.reason() + ")");
  }
  run.ini_why = ready.reason();
  RefuseDownload(host_, "configuration file", "kalmora.ini.new", run.ServerIniVersion, run.ini_why, "kalmora.ini");
}

// Without a hand-over the run goes on with the daily check and the old
// program file, and a later start tries again.
void Updater::HandOverProgram(UpdateRun& run, const Status& ready) {
  Status handed = ready;
  if (ready) {
    Status started = host_.StartProcess("zorvane.exe -updateexe kalmora");
    run.exe_handed_over = started.ok();
    if (run.exe_handed_over) return;
    handed = Status::Failure("the update helper zorvane.exe could not be started (" + started.reason() + ")");
  }
  run.exe_why = handed.reason();
  RefuseDownload(host_, "program file", "kalmora.exe.new", run.ServerExeVersion, run.exe_why, "kalmora.exe");
}

void Updater::InstallConfigurationOnly(UpdateRun& run) {
  InstallConfiguration(run, Download("kalmora.ini.new").All());
  // The local index records what was installed, so a refused download is
  // tried again at the next start.
  if (run.ini_installed) {
    SwapVersionIndex();
    reread_();
  }
}

void Updater::InstallProgramOnly(UpdateRun& run) {
  Status transfer = Download("kalmora.exe.new").All();
  Status ready = transfer ? AcceptDownloadedProgram(run.ServerExeVersion, run.exe_sha) : transfer;
  if (ready) SwapVersionIndex();
  HandOverProgram(run, ready);
}

void Updater::InstallBoth(UpdateRun& run) {
  // One curl run fetches both; when curl fails, neither file can be trusted.
  const Downloaded both = Download("{kalmora.exe,kalmora.ini}.new");
  InstallConfiguration(run, both.Of("kalmora.ini.new"));
  // The local index holds only the configuration's version; the program's
  // is compared with the running program at every start.
  if (run.ini_installed) SwapVersionIndex();
  const Status exe = both.Of("kalmora.exe.new");
  HandOverProgram(run, exe ? AcceptDownloadedProgram(run.ServerExeVersion, run.exe_sha) : exe);
  // Without a hand-over the daily check must work from the configuration
  // just put in place.
  if (!run.exe_handed_over && run.ini_installed) reread_();
}

std::string Updater::UpdateReport(const UpdateRun& run) {
  std::string report = EntryText(Entry::UpdateReport) + "\r\n\r\n";
  report += "Local  ExeVersion = " + VersionText(host_.Version()) + "\r\n";
  report += "Server ExeVersion = " + run.ServerExeVersion + "\r\n\r\n";
  report += "Local  IniVersion = " + run.LocalIniVersion + "\r\n";
  report += "Server IniVersion = " + run.ServerIniVersion + "\r\n\r\n";
  std::vector<std::string> lines;
  if (run.ini_installed) {
    lines.push_back("Configuration file updated to version " + run.ServerIniVersion + ".");
  } else if (run.UpdateIni) {
    lines.push_back("Configuration file version " + run.ServerIniVersion + " was not installed: " + run.ini_why + ".");
  }
  // The swap itself is the helper's: until it has happened, the program
  // file is not "updated".
  if (run.exe_handed_over) {
    lines.push_back("Program file version " + run.ServerExeVersion +
                    " was handed to the update helper, which puts it in place and starts it.");
  } else if (run.UpdateExe) {
    lines.push_back("Program file version " + run.ServerExeVersion + " was not installed: " + run.exe_why + ".");
  }
  if (IndexMissing(run.signed_index, run.index.ok(), run.ServerIniVersion, run.ServerExeVersion)) {
    lines.push_back(
        "The Version Index file could not be downloaded or is corrupt. Please check network connectivity and make "
        "sure the update server is reachable.");
    if (!run.index) lines.push_back("Its transfer failed: " + run.index.reason() + ".");
  }
  if (!run.ini_installed && !run.exe_handed_over) lines.push_back("No files were updated.");
  for (size_t i = 0; i < lines.size(); ++i) report += (i ? "\r\n" : "") + lines[i];
  return report;
}

// The server's index, verified when a key is installed, and what it offers;
// false when the update stops here (its entry is written).
bool Updater::FetchIndex(UpdateRun& run) {
  auto key = ReadUpdateKey();
  if (!key) {
    host_.LogEvent(EventType::Error, EventId::Failure,
                   "Kalmora: The online update was stopped: " + key.reason() + ". Nothing was downloaded.");
    return false;
  }
  run.signed_index = key->has_value();
  if (run.signed_index) {
    (void)host_.DeleteFile("versions.idx.sig");
    // One transfer for both, so that the signature belongs to this index.
    run.index = Download("versions.idx{.new,.sig}").All();
    if (run.index) {
      if (Status trusted = CheckSignedIndex(**key); !trusted) {
        RefuseIndex(trusted.reason());
        return false;
      }
    }
    (void)host_.DeleteFile("versions.idx.sig");
  } else {
    run.index = Download("versions.idx.new").All();
  }
  ReadServerIndex(run);
  if (run.signed_index && run.index) {
    if (Status offer = CheckSignedOffer(run); !offer) {
      RefuseIndex(offer.reason());
      return false;
    }
  }
  return true;
}

void Updater::OnlineUpdate(bool running_as_service, std::string& GlobalIniVersion) {
  if (!settings().UpdateEnabled) return;

  // Leftovers of an earlier run that was stopped or refused.
  (void)host_.DeleteFile("versions.idx.new");
  (void)host_.DeleteFile("kalmora.exe.new");
  (void)host_.DeleteFile("kalmora.ini.new");

  UpdateRun run;
  run.LocalIniVersion =
      ReadProfileString(host_, "Versions", "IniVersion", host_.ProgramDirectory() + "\\versions.idx", "0");
  // A program-only update keeps the server's index, which may say
  // "NO_UPDATE" for the configuration. Taken as a version it would sort
  // above every numeric one and block configuration updates for good; it
  // means no configuration version, like a missing key.
  if (run.LocalIniVersion == kNoUpdate) run.LocalIniVersion = "0";
  GlobalIniVersion = run.LocalIniVersion;

  if (!FetchIndex(run)) return;
  if (run.UpdateIni && !run.UpdateExe) {
    InstallConfigurationOnly(run);
  } else if (run.UpdateExe && !run.UpdateIni) {
    InstallProgramOnly(run);
  } else if (run.UpdateExe && run.UpdateIni) {
    InstallBoth(run);
  }
  if (!run.exe_handed_over && host_.FileExists("versions.idx.new") && host_.FileExists("versions.idx")) {
    (void)host_.DeleteFile("versions.idx.new");
  }

  host_.LogEvent(EventType::Information, EventId::Report, UpdateReport(run));
  // An orderly end like any other: the service manager hears that the
  // service stopped, so that the update helper can start it again through
  // the service manager.
  if (run.exe_handed_over) {
    if (running_as_service) host_.ReportServiceStopped();
    host_.ExitProgram(ExitReason::Update);
  }
  if (IndexMissing(run.signed_index, run.index.ok(), run.ServerIniVersion, run.ServerExeVersion)) {
    host_.LogEvent(EventType::Error, EventId::Failure,
                   "Kalmora: Error while downloading Version Index file from " + settings().UpdateServer +
                       "kalmora/versions.idx.new\r\n\r\nPlease check network connectivity and make sure the update "
                       "server is reachable." +
                       (run.index ? "" : "\r\n\r\nThe transfer failed: " + run.index.reason() + "."));
  }
}

}  // namespace kalmora
