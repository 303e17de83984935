// Shared scaffolding for tests and benchmarks that run the programs on the
// simulated host: a scratch program directory and the records of a run.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "host/sim/sim_world.h"

namespace kalmora::testing {

// A fresh, empty directory under the system's temporary directory, removed
// when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes a file (creating subdirectories); text goes in as given.
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;

 private:
  std::string path_;
};

// "a\nb" with CR LF line ends, as the Windows files are.
std::string Crlf(const std::string& lf_text);

// A simulated run in a program directory.
struct SimRun {
  sim::Options options;
  std::vector<sim::Record> records;

  // Records of one kind, in order.
  std::vector<sim::Record> Of(const std::string& kind) const;
  // The texts of the event-log entries.
  std::vector<std::string> Events() const;
  // The record of the last program end.
  sim::Record Exit() const;
};

// Starts Kalmora at `start` ("YYYY-MM-DD HH:MM[:SS]") in `dir` (stand-in
// program files are added where missing). `until` defaults to 48 hours on.
struct RunSpec {
  std::string start = "2026-12-24 07:58";
  std::string args;
  bool service = false;
  std::string stop_at;
  std::string until;
  std::string server_url;
  std::string server_dir;
  std::vector<std::string> without;
};
SimRun RunSim(const ScratchDir& dir, const RunSpec& spec);

// A kalmora.ini with Version 1, the given [GeneralOptions] lines, and the
// given list sections (empty ones when not given).
std::string Ini(const std::string& general, const std::string& shutdown_holidays = "",
                const std::string& msg_holidays = "", const std::string& messaging = "",
                const std::string& scheduled = "");

}  // namespace kalmora::testing
