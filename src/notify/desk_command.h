// The desk program's command line: what the service tells the countdown
// window in a person's session, quoted by the rules with which Windows
// programs split their command line (CommandLineToArgvW), and read back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kalmora {

// How kalmora-desk.exe answers in countdown mode. Idle mode answers with the
// seconds since the last input instead (0 to kDeskMaxIdleSeconds), so these
// lie above that range.
inline constexpr uint32_t kDeskMaxIdleSeconds = 86400;
inline constexpr uint32_t kDeskOk = 200000;              // "OK", or the window was closed
inline constexpr uint32_t kDeskPostpone = 200001;        // "Postpone N minutes"
inline constexpr uint32_t kDeskBadCommandLine = 200002;  // nothing shown
inline constexpr uint32_t kDeskNoWindow = 200003;        // the window could not be made

// What the host does at the halt, as the window names it.
enum class DeskAction { Shutdown, Hibernate, Sleep, InstallUpdates };

// What a waiting halt waits for: nothing (it counts down), someone at work
// in a session, Windows installing updates, or a named program.
enum class DeskWait { None, Desk, Updates, Program };

struct DeskCountdown {
  std::string reason;             // "Christmas Eve", the weekend's name, "Scheduled shutdown"
  std::string halt_at;            // HH:MM:SS, as the window shows it
  uint32_t seconds_left = 0;      // counted down by the window from its start
  uint32_t postpone_minutes = 0;  // 0: no postpone button
  std::string latest;             // HH:MM: no postpone or wait goes past it; empty when none
  DeskAction action = DeskAction::Shutdown;
  DeskWait waits = DeskWait::None;
  std::string program;  // the program waited for ("backup.exe")
  bool operator==(const DeskCountdown&) const = default;
};

struct DeskRequest {
  bool idle = false;  // --idle: answer how long the session has had no input
  DeskCountdown countdown;
};

// One argument as CommandLineToArgvW reads it back unchanged.
std::string QuoteArgument(const std::string& arg);
// The arguments of a command line (everything after the program's name),
// split as CommandLineToArgvW splits them.
std::vector<std::string> SplitArguments(const std::string& args);

// "--countdown --reason R --at HH:MM:SS --in N [--postpone M] [--latest HH:MM]
//  [--action hibernate|sleep|updates] [--waits desk|updates|program:NAME]"
std::string DeskCommandLine(const DeskCountdown& c);
inline constexpr const char* kDeskIdleCommandLine = "--idle";
// Nothing for anything but the two forms above: a missing or repeated
// option, a number that is none, a time not in its form, extra words.
std::optional<DeskRequest> ParseDeskArguments(const std::vector<std::string>& args);

}  // namespace kalmora
