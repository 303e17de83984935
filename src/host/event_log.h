// The system event log, under the event source "Kalmora".
#pragma once

#include <cstdint>
#include <string>

namespace kalmora {

// The kinds of event-log entries, in the caller's words; each host maps them
// to its own numbers.
enum class EventType { Error, Warning, Information };

// Kalmora's message ids in its event message file: one for failures, one for
// everything else.
// 111 is the one entry a day that says what was decided ([GeneralOptions]
// DailyReport), so that a fleet's collector sees each host every day.
enum class EventId : int32_t { Failure = 109, Report = 110, DailyReport = 111 };

class EventLog {
 public:
  virtual ~EventLog() = default;
  virtual void LogEvent(EventType type, EventId id, const std::string& text) = 0;
};

}  // namespace kalmora
