// The people at the host: the sessions in which someone is logged on, and
// the desk program started in one of them as its user, so that the service
// can show a countdown on every desk and ask whether anyone is working.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/result.h"

namespace kalmora {

struct ChildProcess;

struct DeskSession {
  uint32_t id = 0;
  std::string user;
};

class Desktops {
 public:
  virtual ~Desktops() = default;
  // The sessions with a logged-on user at the keyboard or screen now.
  virtual Result<std::vector<DeskSession>> ActiveSessions() = 0;
  // Starts kalmora-desk.exe, beside the service's own program file, with
  // these arguments in the session as its user; watched and ended like any
  // child (Host::ChildExitStatus, Host::ReleaseChild).
  virtual Result<ChildProcess> StartInSession(uint32_t session, const std::string& args) = 0;
};

}  // namespace kalmora
