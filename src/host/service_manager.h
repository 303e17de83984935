// The service manager as another program sees it: whether a service is
// registered and for which program file, its state, and start and stop
// requests. Zorvane restarts Kalmora through it after a program update, so
// that the new program runs under the service manager as the old one did.
#pragma once

#include <optional>
#include <string>

#include "host/result.h"

namespace kalmora {

enum class ServiceState { Stopped, StartPending, StopPending, Running, Other };

struct RegisteredService {
  std::string command_line;  // as registered: the program file, perhaps quoted, perhaps with arguments
  ServiceState state = ServiceState::Stopped;
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // The service of that name; nothing when none is registered.
  virtual Result<std::optional<RegisteredService>> QueryService(const std::string& name) = 0;
  // Asks the service manager to start the service; the reason when it refuses.
  virtual Status StartService(const std::string& name) = 0;
};

// Whether a service's registered command line runs `program_path`: quoted or
// not, with or without arguments after it, compared without case as Windows
// compares paths.
bool ServiceRunsProgram(const std::string& command_line, const std::string& program_path);

}  // namespace kalmora
