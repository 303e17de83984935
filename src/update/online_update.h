// The online update: the version index from the update server (signed, when
// a key is installed), the downloads, and the replacement of kalmora.ini
// and, through Zorvane, of the program file.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "config/config.h"
#include "host/host.h"
#include "host/waits.h"

namespace kalmora {

class Updater {
 public:
  // `reread` reads kalmora.ini again after it was replaced, and ends the
  // program when it cannot.
  Updater(Host& host, Waits& waits, const ConfigReadResult& config, std::function<void()> reread)
      : host_(host), waits_(waits), config_(config), reread_(std::move(reread)) {}

  // Runs when UpdateEnabled is on. `GlobalIniVersion` becomes the local
  // index's configuration version; a hand-over to Zorvane ends the program
  // (reported as a stopped service when it runs as one).
  void OnlineUpdate(bool running_as_service, std::string& GlobalIniVersion);

 private:
  struct UpdateRun;
  struct Downloaded;
  const Settings& settings() const { return *config_.values; }
  Downloaded Download(const std::string& files);
  bool FetchIndex(UpdateRun& run);
  void ReadServerIndex(UpdateRun& run);
  Result<std::optional<std::string>> ReadUpdateKey();
  Status CheckSignedIndex(const std::string& key);
  Status CheckSignedOffer(const UpdateRun& run);
  void RefuseIndex(const std::string& why);
  void InstallConfigurationOnly(UpdateRun& run);
  void InstallProgramOnly(UpdateRun& run);
  void InstallBoth(UpdateRun& run);
  void InstallConfiguration(UpdateRun& run, const Status& transfer);
  void HandOverProgram(UpdateRun& run, const Status& ready);
  Status AcceptDownloadedConfiguration(const std::string& pinned_sha);
  Status AcceptDownloadedProgram(const std::string& offered_version, const std::string& pinned_sha);
  void SwapVersionIndex();
  std::string UpdateReport(const UpdateRun& run);

  Host& host_;
  Waits& waits_;
  const ConfigReadResult& config_;
  std::function<void()> reread_;
};

}  // namespace kalmora
