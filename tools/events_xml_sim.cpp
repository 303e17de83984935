// A simulated host's entries as its event log would export them.
#include <ctime>

#include "tools/events_xml.h"

namespace kalmora::report {

std::string SimulatedEventsXml(const std::vector<sim::Record>& records, const std::string& computer) {
  std::string out;
  int n = 0;
  for (const sim::Record& r : records) {
    if (r.value("kind", "") != "event") continue;
    const sim::LocalMs local = *sim::ParseTime(r.value("t", ""));
    const LocalTime lt = sim::ToLocalTime(local);
    std::tm tm{};
    tm.tm_year = lt.year - 1900;
    tm.tm_mon = lt.month - 1;
    tm.tm_mday = lt.day;
    tm.tm_hour = lt.hour;
    tm.tm_min = lt.minute;
    tm.tm_sec = lt.second;
    tm.tm_isdst = -1;
    const int type = r.value("type", 4);
    ForwardedEvent e;
    e.provider = "Kalmora";
    e.computer = computer;
    e.record_id = static_cast<uint64_t>(local) * 100 + static_cast<uint64_t>(n++ % 100);
    e.event_id = r.value("id", 110);
    e.level = type == 1 ? 2 : type == 2 ? 3 : 4;
    e.utc_ms = static_cast<int64_t>(std::mktime(&tm)) * 1000 + lt.millisecond;
    e.text = r.value("text", "");
    out += EventXml(e);
  }
  return out;
}

}  // namespace kalmora::report
