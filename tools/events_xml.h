// Windows event XML, as `wevtutil qe … /f:xml` and PowerShell's ToXml()
// write it: the simulated host's entries written that way, and a
// collector's export read back, event by event, so that one cut or damaged
// event costs only itself.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/sim/sim_world.h"  // only for SimulatedEventsXml (events_xml_sim.cpp)

namespace kalmora::report {

struct ForwardedEvent {
  std::string provider, computer;
  uint64_t record_id = 0;
  int event_id = 0;
  int level = 0;       // 1 critical, 2 error, 3 warning, 4 information
  int64_t utc_ms = 0;  // TimeCreated's SystemTime, milliseconds since 1970 in UTC
  std::string text;    // the Data elements of EventData, one line each
};

struct EventProblem {
  std::string file;
  int line = 0;
  std::string what;
};

// Every event of one file's bytes, in file order: UTF-16 with a byte-order
// mark, or UTF-8 with or without one; Event elements one after another or
// inside a root element. What cannot be read is named in `problems`.
void ReadEvents(const std::string& bytes, const std::string& file, std::vector<ForwardedEvent>& out,
                std::vector<EventProblem>& problems);

// Text as XML and HTML take it in content and quoted attributes; a CR is
// kept as a character reference, which a reader would otherwise drop.
std::string Escaped(std::string_view text);

// One entry of a simulated host as wevtutil writes it: Provider "Kalmora",
// the Application channel.
std::string EventXml(const ForwardedEvent& e);

// A simulated run's entries as the host's own event log would export them:
// times in UTC (from this machine's time zone, as the host's clock would
// be), record ids from the moment, so that runs of one host never share one.
std::string SimulatedEventsXml(const std::vector<sim::Record>& records, const std::string& computer);

// "2026-12-24T07:58:10.1234567Z" and back; false for anything else.
bool ParseSystemTime(std::string_view text, int64_t& utc_ms);
std::string FormatSystemTime(int64_t utc_ms);

// What an XML reader hands over, node by node, and the events it makes of
// them: the fields of System and the Data of EventData.
class EventCollector {
 public:
  EventCollector(std::vector<ForwardedEvent>& out, std::vector<EventProblem>& problems)
      : out_(out), problems_(problems) {}
  void Start(std::string_view name, int line);
  void Attribute(std::string_view name, std::string_view value);
  void Text(std::string_view text);
  void End(std::string_view name);

 private:
  std::vector<ForwardedEvent>& out_;
  std::vector<EventProblem>& problems_;
  ForwardedEvent event_;
  bool in_event_ = false, time_ = false;
  int started_on_ = 0;
  std::string element_, text_;
};

// Every node of a whole stream (UTF-8) to `collect`, in one pass; false
// with `problem` (the reader's own words) when the stream is not
// well-formed. Each platform's own XML reader does this: libxml2 on Linux,
// XmlLite on Windows.
bool ParseEventStream(std::string_view xml, EventCollector& collect, std::string& problem);

// One Event element (UTF-8) into `e`; false with `problem` when it is not
// well-formed XML or lacks what a report needs.
bool ParseEventElement(std::string_view xml, ForwardedEvent& e, std::string& problem);

}  // namespace kalmora::report
