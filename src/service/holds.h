// [Holds]: what keeps a due halt from coming: a listed program that runs
// anywhere on the host, or Windows installing updates. The desk's wait asks
// here first, every minute, before it asks the people at the desk.
#pragma once

#include <optional>
#include <string>

#include "config/config.h"
#include "host/host.h"
#include "notify/desk_command.h"

namespace kalmora {

// What a waiting halt waits for.
struct Hold {
  DeskWait kind = DeskWait::None;
  std::string program;  // as it runs ("Backup.exe"), for a program
  uint32_t pid = 0;
  std::string what;  // for the entries: "backup.exe (process 4242) runs"
  // The same hold as before: what decides whether a wait has a new reason.
  bool Same(const Hold& o) const { return kind == o.kind && program == o.program && pid == o.pid; }
};

// The service Windows runs while it installs updates.
inline constexpr const char* kUpdateInstallerService = "TrustedInstaller";

// Whether a listed name (lower case, without path) names the program file.
bool NamesProgram(const std::string& listed, const std::string& file_name);

class Holds {
 public:
  Holds(Host& host, const ConfigReadResult& config) : host_(host), config_(config) {}
  // The first of the listed programs that runs, then the updates; nothing
  // when nothing holds the halt (or nothing is listed).
  std::optional<Hold> Holding();

 private:
  Host& host_;
  const ConfigReadResult& config_;
};

}  // namespace kalmora
