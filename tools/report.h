// kalmora-sim report: the forwarded entries of a whole fleet as one page,
// a row per host and day: what was decided, what became of it, and which
// hosts need attention (failed, silent, errors) first.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/events_xml.h"

namespace kalmora::report {

struct HostDay {
  std::string computer, date;  // date YYYY-MM-DD, local
  std::string version, configuration, decision;
  std::string outcome;    // "halted", "no halt planned", "given up", "failed", "silent"
  std::string halted_at;  // HH:MM:SS local, empty for none
  std::string action;     // "forced shutdown", "shutdown", "shutdown with updates", "hibernate", "sleep"
  // postponed_by: who asked for each postpone, one a postpone.
  std::vector<std::string> postponed_by, waited_for, errors, updates;
  int other = 0;  // entries of ours the report does not know
  std::optional<double> hours_off;
  bool attention() const { return outcome == "failed" || outcome == "silent" || !errors.empty(); }
};

struct Options {
  std::optional<std::string> from, to;  // YYYY-MM-DD; every date seen when not given
  std::vector<std::string> expect;      // computers that should be heard from every day
  std::optional<double> watts;
  // Minutes east of UTC the times are shown in; the machine's own local
  // time when not given.
  std::optional<int> utc_offset_minutes;
};

// The rows, day by day, the hosts that need attention first on each day.
std::vector<HostDay> Build(const std::vector<ForwardedEvent>& events, const Options& o);

std::string Text(const std::vector<HostDay>& rows, const Options& o, const std::vector<EventProblem>& problems);
std::string JsonLines(const std::vector<HostDay>& rows, const Options& o);
std::string Csv(const std::vector<HostDay>& rows, const Options& o);
std::string Html(const std::vector<HostDay>& rows, const Options& o, const std::vector<EventProblem>& problems);

// The command: kalmora-sim report FILE... [options]; 0 nothing needs
// attention, 1 something does, 2 unusable input or arguments.
int Main(int argc, char** argv);

}  // namespace kalmora::report
