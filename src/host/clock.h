// The clock: local calendar time, the time of day, and elapsed time. Wall
// time jumps at midnight and falls back to 0; elapsed time only grows, and
// every wait measures that.
#pragma once

#include <cstdint>

namespace kalmora {

// Local calendar date and time of day.
struct LocalTime {
  int year = 0;
  int month = 0;    // 1..12
  int day = 0;      // 1..31
  int weekday = 0;  // 1 Monday .. 7 Sunday
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
  // Local time of day in seconds since midnight, single precision; falls
  // back to 0 at midnight.
  virtual float SecondsSinceMidnight() = 0;
  // Milliseconds from an arbitrary origin; only ever grows. Waits use this.
  virtual int64_t ElapsedMs() = 0;
  // How far local time is ahead of UTC now, in minutes (negative west of
  // Greenwich).
  virtual int UtcOffsetMinutes() = 0;
};

}  // namespace kalmora
