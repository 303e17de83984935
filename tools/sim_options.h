// kalmora-sim's command line: the options of a run and what they make of
// the simulated world, each refused with a sentence when it cannot be used.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host/sim/sim_world.h"

namespace kalmora {

// What the command line says, before anything is checked.
struct CommandLine {
  std::string dir = KALMORA_EXAMPLE_DIR;
  std::string work, args, start, stop_at, until, server, server_delay, send_delay, kill_at;
  std::vector<std::string> without, server_faults, exit_statuses, sleeps, smtp_refused, sc_starts, starts_by_hand;
  std::vector<std::string> sessions, inputs, clicks;
  std::string power = "hibernate,sleep";
  std::string events_xml, computer = "SIMHOST";
  std::vector<std::string> servicing, processes, wakes;
  bool service = false, registered = false, json = false, smtp_down = false, updates_pending = false;
};

// Kalmora's argument string (--args VALUE, also one that begins with a dash
// or is empty); every other argument goes to `rest`.
bool TakeArgsValue(int argc, char** argv, std::vector<std::string>& rest, std::optional<std::string>& value,
                   std::string& problem);
// A new directory of our own under the system's temporary directory.
std::optional<std::string> MakeTemporaryDirectory(const char* prefix);
// --server URL=DIR: the first "=" after which an existing directory follows;
// the files are served from DIR/kalmora, or from DIR when it has none.
bool SplitServer(const std::string& text, std::string& url, std::string& dir, std::string& problem);
bool MakeOptions(const CommandLine& c, sim::Options& o, std::string& problem);
// The directory the run happens in: --work (kept) or a temporary one.
bool PrepareWorkDirectory(const CommandLine& c, std::string& work, bool& keep, std::string& problem);
void AddOptions(CLI::App& app, CommandLine& c, std::string& args_help);

}  // namespace kalmora
