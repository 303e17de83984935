#include "service/holds.h"

#include "config/numbers.h"

namespace kalmora {

bool NamesProgram(const std::string& listed, const std::string& file_name) { return listed == AsciiLower(file_name); }

std::optional<Hold> Holds::Holding() {
  const Settings& s = *config_.values;
  if (!s.WhileRunning.empty()) {
    // A list that cannot be had holds nothing: a host that cannot see its
    // programs would otherwise never halt without LatestShutdown.
    if (auto running = host_.RunningPrograms()) {
      for (const std::string& listed : s.WhileRunning) {
        for (const RunningProgram& p : *running) {
          if (!NamesProgram(listed, p.name)) continue;
          return Hold{DeskWait::Program, p.name, p.pid, p.name + " (process " + std::to_string(p.pid) + ") runs"};
        }
      }
    }
  }
  if (s.WhileUpdating) {
    auto service = host_.QueryService(kUpdateInstallerService);
    if (service && *service && (*service)->state == ServiceState::Running) {
      return Hold{DeskWait::Updates, "", 0, "Windows installs updates (the service TrustedInstaller runs)"};
    }
  }
  return std::nullopt;
}

}  // namespace kalmora
