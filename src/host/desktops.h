// The people at the host: the sessions in which someone is logged on, a
// message box shown in them, and the desk program started in one of them as
// its user, so that the service can show a countdown on every desk and ask
// whether anyone is working.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/processes.h"
#include "host/result.h"

namespace kalmora {

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
  // child (Processes::ChildExitStatus, Processes::ReleaseChild).
  virtual Result<ChildProcess> StartInSession(uint32_t session, const std::string& args) = 0;
  // A message box in every active user session, without waiting for an
  // answer; each goes away by itself after `timeout_s` seconds. The number of
  // sessions it was shown in.
  virtual Result<int> ShowSessionMessage(const std::string& title, const std::string& text, uint32_t timeout_s) = 0;
};

}  // namespace kalmora
