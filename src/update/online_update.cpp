#include "config/numbers.h"
#include "service/frm_main.h"
#include "update/versions.h"

namespace kalmora {

namespace {

// An index without a pin for the file accepts it as before; with one, the
// file's SHA-256 must match it (hexadecimal in either case).
bool MatchesPin(Host& host, const std::string& file, const std::string& pin) {
  if (pin.empty()) return true;
  auto sha = host.Sha256OfFile(file);
  return sha && AsciiLower(*sha) == AsciiLower(TrimBlanks(pin));
}

constexpr const char* kMissing = "the download is missing";

// A download that will not be used goes at once, and the event log says why:
// the live file stays as it was.
void RefuseDownload(Host& host, const std::string& what, const std::string& download, const std::string& version,
                    const std::string& why, const std::string& live) {
  std::string text = "Kalmora: The " + what + " " + download + " (version " + version + ") was not installed";
  if (host.FileExists(download)) text += host.DeleteFile(download) ? " and was deleted" : " and could not be deleted";
  host.LogEvent(1, 109, text + ": " + why + ". The current " + live + " is kept.");
}

}  // namespace

// A configuration from the network replaces the live one only when it reads
// cleanly: an error page or a truncated file must never cost a host its
// working kalmora.ini.
bool frmMain::AcceptDownloadedConfiguration(const std::string& pinned_sha, std::string& why) {
  if (!host_.FileExists("kalmora.ini.new")) {
    why = kMissing;
    return false;
  }
  if (!MatchesPin(host_, "kalmora.ini.new", pinned_sha)) {
    why = "its SHA-256 does not match IniSha256 of the version index";
    return false;
  }
  ConfigReadResult r = ParseConfiguration(host_, host_.ProgramDirectory() + "\\kalmora.ini.new", host_.Version().major);
  if (r.status != 0) {
    why = "it is not a readable configuration file (" + r.failure + ")";
    return false;
  }
  return true;
}

// A program file is handed to Zorvane only when it is a Windows executable:
// a host must never be left with a kalmora.exe that cannot start.
bool frmMain::AcceptDownloadedProgram(const std::string& offered_version, const std::string& pinned_sha,
                                      std::string& why) {
  if (!host_.FileExists("kalmora.exe.new")) {
    why = kMissing;
    return false;
  }
  if (!MatchesPin(host_, "kalmora.exe.new", pinned_sha)) {
    why = "its SHA-256 does not match ExeSha256 of the version index";
    return false;
  }
  auto bytes = host_.ReadFile("kalmora.exe.new");
  if (!bytes || !LooksLikeWindowsExecutable(*bytes)) {
    why = "it is not a Windows executable";
    return false;
  }
  // A file stamped with another version than the index offers would be
  // offered again as soon as it runs: update, hand-over and restart would
  // follow each other for ever.
  auto stamped = StampedVersion(*bytes);
  auto offered = ParseServerVersion(offered_version);
  if (stamped && offered &&
      (stamped->major != offered->major || stamped->minor != offered->minor ||
       stamped->revision != offered->revision)) {
    why = "it is stamped as version " + std::to_string(stamped->major) + "." + std::to_string(stamped->minor) + "." +
          std::to_string(stamped->revision) + ", not " + offered_version;
    return false;
  }
  return true;
}

void frmMain::SwapVersionIndex() {
  if (host_.FileExists("versions.idx.new")) host_.ReplaceFile("versions.idx.new", "versions.idx");
}

void frmMain::OnlineUpdate() {
  if (!IsOn(cfg_.UpdateEnabled)) return;

  // Leftovers of an earlier run that was stopped or refused.
  host_.DeleteFile("versions.idx.new");
  host_.DeleteFile("kalmora.exe.new");
  host_.DeleteFile("kalmora.ini.new");

  const std::string dir = host_.ProgramDirectory();
  const std::string local_index = dir + "\\versions.idx";
  const std::string server_index = dir + "\\versions.idx.new";
  std::string LocalIniVersion = ReadProfileString(host_, "Versions", "IniVersion", local_index, "0");
  // A program-only update keeps the server's index, which may say
  // "NO_UPDATE" for the configuration. Taken as a version it would sort
  // above every numeric one and block configuration updates for good; it
  // means no configuration version, like a missing key.
  if (LocalIniVersion == kNoUpdate) LocalIniVersion = "0";
  GlobalIniVersion_ = LocalIniVersion;

  const std::string curl = "system\\curl -O -s " + cfg_.UpdateServer + "kalmora/";
  host_.StartProcess(curl + "versions.idx.new");
  PauseProcessingEvents(3000, 100);

  const std::string ServerExeVersion = ReadProfileString(host_, "Versions", "ExeVersion", server_index, kNoUpdate);
  const std::string ServerIniVersion = ReadProfileString(host_, "Versions", "IniVersion", server_index, kNoUpdate);
  // Optional pins; servers without them work exactly as before.
  const std::string ini_sha = ReadProfileString(host_, "Versions", "IniSha256", server_index, "");
  const std::string exe_sha = ReadProfileString(host_, "Versions", "ExeSha256", server_index, "");

  const ProgramVersion running = host_.Version();
  const bool UpdateExe = ServerExeVersion != kNoUpdate && IsProgramNewer(ServerExeVersion, running);
  const bool UpdateIni = IsConfigurationNewer(ServerIniVersion, LocalIniVersion);

  bool ini_installed = false;
  bool exe_handed_over = false;
  std::string ini_why, exe_why;

  auto install_configuration = [&] {
    if (AcceptDownloadedConfiguration(ini_sha, ini_why)) {
      ini_installed = host_.ReplaceFile("kalmora.ini.new", "kalmora.ini");
      if (ini_installed) return;
      ini_why = "kalmora.ini could not be replaced";
    }
    RefuseDownload(host_, "configuration file", "kalmora.ini.new", ServerIniVersion, ini_why, "kalmora.ini");
  };
  auto reread_configuration = [&] {
    if (ReadConfiguration() != 0) {
      host_.ReportServiceStopped();
      host_.ExitProgram(ExitReason::Config);
    }
  };
  // Without a hand-over the run goes on with the daily check and the old
  // program file, and a later start tries again.
  auto hand_over_program = [&](bool accepted) {
    if (accepted) {
      exe_handed_over = host_.StartProcess("zorvane.exe -updateexe kalmora");
      if (exe_handed_over) return;
      exe_why = "the update helper zorvane.exe could not be started";
    }
    RefuseDownload(host_, "program file", "kalmora.exe.new", ServerExeVersion, exe_why, "kalmora.exe");
  };

  if (UpdateIni && !UpdateExe) {
    host_.StartProcess(curl + "kalmora.ini.new");
    PauseProcessingEvents(3000, 100);
    install_configuration();
    // The local index records what was installed, so a refused download is
    // tried again at the next start.
    if (ini_installed) {
      SwapVersionIndex();
      reread_configuration();
    }
  } else if (UpdateExe && !UpdateIni) {
    host_.StartProcess(curl + "kalmora.exe.new");
    PauseProcessingEvents(3000, 100);
    const bool accepted = AcceptDownloadedProgram(ServerExeVersion, exe_sha, exe_why);
    if (accepted) SwapVersionIndex();
    hand_over_program(accepted);
  } else if (UpdateExe && UpdateIni) {
    host_.StartProcess(curl + "{kalmora.exe,kalmora.ini}.new");
    PauseProcessingEvents(3000, 100);
    install_configuration();
    // The local index holds only the configuration's version; the program's
    // is compared with the running program at every start.
    if (ini_installed) SwapVersionIndex();
    hand_over_program(AcceptDownloadedProgram(ServerExeVersion, exe_sha, exe_why));
    // Without a hand-over the daily check must work from the configuration
    // just put in place.
    if (!exe_handed_over && ini_installed) reread_configuration();
  }
  if (!exe_handed_over) {
    if (host_.FileExists("versions.idx.new") && host_.FileExists("versions.idx")) {
      host_.DeleteFile("versions.idx.new");
    }
  }

  const bool index_failed = ServerIniVersion == kNoUpdate || ServerExeVersion == kNoUpdate;
  std::string report = "Kalmora: Online update finished. Results:\r\n\r\n";
  report += "Local  ExeVersion = " + VersionText() + "\r\n";
  report += "Server ExeVersion = " + ServerExeVersion + "\r\n\r\n";
  report += "Local  IniVersion = " + LocalIniVersion + "\r\n";
  report += "Server IniVersion = " + ServerIniVersion + "\r\n";
  std::vector<std::string> lines;
  if (ini_installed) {
    lines.push_back("Configuration file updated to version " + ServerIniVersion + ".");
  } else if (UpdateIni) {
    lines.push_back("Configuration file version " + ServerIniVersion + " was not installed: " + ini_why + ".");
  }
  if (exe_handed_over) {
    lines.push_back("Program file updated to version " + ServerExeVersion + ".");
  } else if (UpdateExe) {
    lines.push_back("Program file version " + ServerExeVersion + " was not installed: " + exe_why + ".");
  }
  if (index_failed) {
    lines.push_back(
        "The Version Index file could not be downloaded or is corrupt. Please check network connectivity and make "
        "sure the update server is reachable.");
  }
  if (!ini_installed && !exe_handed_over) lines.push_back("No files were updated.");
  report += "\r\n";
  for (size_t i = 0; i < lines.size(); ++i) {
    report += lines[i];
    if (i + 1 < lines.size()) report += "\r\n";
  }
  host_.LogEvent(4, 110, report);

  if (exe_handed_over) host_.ExitProgram(ExitReason::Update);

  if (index_failed) {
    host_.LogEvent(1, 109,
                   "Kalmora: Error while downloading Version Index file from " + cfg_.UpdateServer +
                       "kalmora/versions.idx.new\r\n\r\nPlease check network connectivity and make sure the update "
                       "server is reachable.");
  }
}

}  // namespace kalmora
