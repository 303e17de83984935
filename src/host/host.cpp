#include "host/host.h"

namespace kalmora {

const char* ExitReasonName(ExitReason r) {
  switch (r) {
    case ExitReason::Halt:
      return "halt";
    case ExitReason::Stop:
      return "stop";
    case ExitReason::ExitTimer:
      return "exit-timer";
    case ExitReason::Config:
      return "config";
    case ExitReason::Update:
      return "update";
    case ExitReason::Command:
      return "command";
    case ExitReason::CommandFailed:
      return "command-failed";
    case ExitReason::AlreadyRunning:
      return "already-running";
    case ExitReason::Killed:
      return "killed";
    case ExitReason::Done:
      return "done";
    case ExitReason::Until:
      return "until";
  }
  return "unknown";
}

std::string VersionText(const ProgramVersion& v) {
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.revision);
}

namespace {
char FoldPathChar(char c) {
  if (c == '/') return '\\';
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
bool SamePath(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldPathChar(a[i]) != FoldPathChar(b[i])) return false;
  }
  return true;
}
}  // namespace

bool ServiceRunsProgram(const std::string& command_line, const std::string& program_path) {
  const size_t first = command_line.find_first_not_of(" \t");
  if (first == std::string::npos || program_path.empty()) return false;
  const std::string line = command_line.substr(first);
  if (line[0] == '"') {
    const size_t close = line.find('"', 1);
    return close != std::string::npos && SamePath(line.substr(1, close - 1), program_path);
  }
  // Unquoted (the way some tools register it): the program file, then
  // nothing or arguments after a blank.
  if (line.size() < program_path.size() || !SamePath(line.substr(0, program_path.size()), program_path)) return false;
  return line.size() == program_path.size() || line[program_path.size()] == ' ' || line[program_path.size()] == '\t';
}

}  // namespace kalmora
