// kalmora-sim publish: one command from a private key, a configuration and a
// program file to the signed files an update server offers.
#include "tools/publish.h"

#include <CLI/CLI.hpp>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include "check/config_check.h"
#include "config/numbers.h"
#include "host/signature.h"
#include "host/sim/digest.h"
#include "host/sim/sim_host.h"
#include "host/sim/sim_world.h"
#include "update/versions.h"

namespace kalmora {
namespace {

namespace fs = std::filesystem;

constexpr int kRefused = 2;
constexpr int kUnusable = 3;

int Say(int status, const std::string& message) {
  std::cerr << "kalmora-sim publish: " << message << "\n";
  return status;
}

std::optional<std::string> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Written beside and renamed over, so a host that fetches meanwhile gets the
// old file or the new one, never half of one.
bool WriteAll(const fs::path& path, const std::string& bytes) {
  const fs::path part = path.string() + ".part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) return false;
  }
  std::error_code ec;
  fs::rename(part, path, ec);
  return !ec;
}

IndexDate Today() {
  const LocalTime lt = sim::ToLocalTime(sim::MachineNow());
  return {lt.year, lt.month, lt.day};
}

// The service's own checker; a file it rates 2 would stop every host.
bool ConfigurationUsable(const std::string& file) {
  std::error_code ec;
  const fs::path path = fs::absolute(file, ec);
  sim::Options o;
  o.work_dir = path.parent_path().string();
  sim::World world(o);
  sim::SimHost host(world, "kalmora", "", false);
  const auto findings = CheckConfiguration(host, path.string(), KALMORA_VERSION_MAJOR);
  for (const Finding& f : findings) {
    if (f.rule->severity != Severity::Error) continue;
    std::cerr << path.filename().string() << ":" << (f.line ? std::to_string(f.line) + ":" : "") << " error: " << f.text
              << "\n";
  }
  return CheckExitStatus(findings) < 2;
}

struct Offer {
  std::string index;  // versions.idx.new
  std::string ini, exe;
};

// The program's version comes from its own stamp, so the index cannot
// promise a version the file does not carry.
int AddProgram(const std::string& file, Offer& offer, std::string& exe_version) {
  auto exe = ReadAll(file);
  if (!exe) return Say(kUnusable, "--exe: cannot read '" + file + "'");
  if (Status whole = CheckWindowsExecutable(*exe); !whole) return Say(kRefused, "--exe: " + whole.reason());
  auto v = StampedVersion(*exe);
  if (!v) return Say(kRefused, "--exe: it carries no version stamp");
  exe_version = VersionText(*v);
  offer.exe = *exe;
  return 0;
}

// versions.idx.new as the hosts read it: the versions, a pin for each
// offered file, and the date after which hosts refuse it.
Result<std::string> IndexText(const Offer& offer, const std::string& exe_version, const std::string& ini_version,
                              const std::string& expires) {
  std::string index = "[Versions]\r\nExeVersion=" + exe_version + "\r\nIniVersion=" + ini_version + "\r\n";
  for (const auto& [file, pin] : {std::pair{&offer.exe, "ExeSha256="}, {&offer.ini, "IniSha256="}}) {
    if (file->empty()) continue;
    auto digest = sim::Sha256Digest(*file);
    if (!digest) return Result<std::string>::Failure("SHA-256 could not be computed");
    index += pin + HexLower(*digest) + "\r\n";
  }
  return index + "Expires=" + expires + "\r\n";
}

// Signs the index, checks the signature as a host would, and writes the
// offer to the update server's directory.
int SignAndWrite(const std::string& pem, const P256PrivateKey& key, const Offer& offer, const std::string& index,
                 const std::string& out, const std::string& summary) {
  auto der = SignP256Sha256(pem, key, index);
  if (!der) return Say(kRefused, "--key: " + der.reason());
  // A key file whose public half does not belong to its private half would
  // sign what no host accepts: check as a host checks.
  auto rs = P256SignatureFromDer(*der);
  auto verified = rs ? PlatformSignatureVerifier().VerifyP256Sha256(index, key.public_key, *rs) : Result<bool>(false);
  if (!verified || !*verified) return Say(kRefused, "--key: its signature does not verify with its own public key");

  const fs::path dir = fs::path(out) / "kalmora";
  std::error_code ec;
  fs::create_directories(dir, ec);
  // The server offers exactly what the index names.
  for (const char* name : {"kalmora.exe.new", "kalmora.ini.new"}) fs::remove(dir / name, ec);
  const bool written = (offer.exe.empty() || WriteAll(dir / "kalmora.exe.new", offer.exe)) &&
                       (offer.ini.empty() || WriteAll(dir / "kalmora.ini.new", offer.ini)) &&
                       WriteAll(dir / "versions.idx.new", index) && WriteAll(dir / "versions.idx.sig", *der);
  if (!written) return Say(kUnusable, "--out: cannot write to '" + dir.string() + "'");
  std::cout << "kalmora-sim publish: " << (dir / "versions.idx.new").string() << ": " << summary
            << "; signed in versions.idx.sig" << (offer.exe.empty() ? "" : "; kalmora.exe.new")
            << (offer.ini.empty() ? "" : "; kalmora.ini.new") << "\n";
  return 0;
}

}  // namespace

int Publish(int argc, char** argv) {
  CLI::App app{
      "Writes a signed update (versions.idx.new, versions.idx.sig and the offered files) for the update "
      "server.",
      "kalmora-sim publish"};
  std::string key_file, ini_file, ini_version, exe_file, out;
  int days = 0;
  app.add_option("--key", key_file, "the private key (PEM: EC PRIVATE KEY or PRIVATE KEY)")->required();
  app.add_option("--ini", ini_file, "the configuration to offer");
  app.add_option("--ini-version", ini_version, "its IniVersion (compared as text: keep the length, e.g. 2026-01)");
  app.add_option("--exe", exe_file, "the program file to offer (its version is read from its stamp)");
  app.add_option("--expires", days, "days from today after which hosts refuse the index")->required();
  app.add_option("--out", out, "the update server's directory; the files go to DIR/kalmora/")->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return Say(kUnusable, e.what());
  }
  if (ini_file.empty() != ini_version.empty()) return Say(kUnusable, "give --ini and --ini-version together");
  if (ini_file.empty() && exe_file.empty()) return Say(kUnusable, "nothing to publish: give --ini or --exe");
  if (ini_version == kNoUpdate || ini_version.find_first_of("\r\n;[]=") != std::string::npos ||
      TrimBlanks(ini_version) != ini_version) {
    return Say(kUnusable, "--ini-version: '" + ini_version + "' cannot stand in the index");
  }
  if (days < 1 || days > 3660) return Say(kUnusable, "--expires: from 1 to 3660 days");

  auto pem = ReadAll(key_file);
  if (!pem) return Say(kUnusable, "--key: cannot read '" + key_file + "'");
  auto key = ReadP256PrivateKeyPem(*pem);
  if (!key) return Say(kRefused, "--key: '" + key_file + "' is not a P-256 private key: " + key.reason());

  Offer offer;
  std::string exe_version = kNoUpdate;
  if (!exe_file.empty()) {
    if (int status = AddProgram(exe_file, offer, exe_version)) return status;
  }
  if (!ini_file.empty()) {
    auto ini = ReadAll(ini_file);
    if (!ini) return Say(kUnusable, "--ini: cannot read '" + ini_file + "'");
    if (!ConfigurationUsable(ini_file)) return Say(kRefused, "--ini: the service would refuse this configuration");
    offer.ini = *ini;
  }
  const std::string expires = FormatIndexDate(AddDays(Today(), days));
  if (ini_file.empty()) ini_version = kNoUpdate;
  auto index = IndexText(offer, exe_version, ini_version, expires);
  if (!index) return Say(kRefused, index.reason());
  return SignAndWrite(*pem, *key, offer, *index, out,
                      "ExeVersion " + exe_version + ", IniVersion " + ini_version + ", Expires " + expires);
}

}  // namespace kalmora
