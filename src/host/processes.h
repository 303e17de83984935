// Child programs: started with a hidden window in the working directory,
// never through a shell; some left to run on their own, some waited for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/result.h"

namespace kalmora {

// A program that runs on the host, in any session: its file name without
// the path ("backup.exe") and its process id.
struct RunningProgram {
  std::string name;
  uint32_t pid = 0;
};

// A child program that was started and is waited for.
struct ChildProcess {
  uint64_t id = 0;
};

class Processes {
 public:
  virtual ~Processes() = default;
  // Starts a command line and lets it run on its own.
  virtual Status StartProcess(const std::string& command_line) = 0;
  // The same for a child whose end is waited for: ChildExitStatus tells
  // whether it has ended and with which status; ReleaseChild forgets it, and
  // first ends it (with everything it started) when asked to. A non-empty
  // `output` names a file, made anew, that receives the child's standard
  // output (what curl's -w writes, say).
  virtual Result<ChildProcess> StartChild(const std::string& command_line, const std::string& output) = 0;
  virtual std::optional<uint32_t> ChildExitStatus(ChildProcess child) = 0;
  virtual void ReleaseChild(ChildProcess child, bool end_if_running) = 0;
  // Every program that runs on the host now, the service's own included.
  virtual Result<std::vector<RunningProgram>> RunningPrograms() = 0;
};

}  // namespace kalmora
