// Checks a kalmora.ini the way an administrator needs it checked: every
// mistake that turns a host's behaviour off or wrong without a word, with
// its line. The values are the ones the service's own reader gives; the
// lines are found by walking the file the way the profile lookup does.
#pragma once

#include <string>
#include <vector>

namespace kalmora {

class Host;

enum class Severity { Note, Warning, Error };
const char* SeverityName(Severity s);

// One rule of the checker: its name, how bad it is, and the sentence an
// administrator reads ("%s" parts are filled per finding).
struct CheckRule {
  const char* name;
  Severity severity;
  const char* sentence;
};
const std::vector<CheckRule>& CheckRules();

struct Finding {
  int line = 0;  // 0: about the file as a whole
  const CheckRule* rule = nullptr;
  std::string text;
};

// Every finding in file order. `path` is read through the host like the
// service reads it; `dir` is the program directory, for the files that
// switches need (system\send.bat, system\curl.exe, FILE= bodies).
std::vector<Finding> CheckConfiguration(Host& host, const std::string& path, int program_major);

// The worst severity, or nothing found: 0 clean, 1 warnings (or notes only:
// 0), 2 the service would refuse the file (or, with the update on, could not
// use system\update-key.pem).
int CheckExitStatus(const std::vector<Finding>& findings);

}  // namespace kalmora
