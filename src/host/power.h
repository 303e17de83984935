// Beeps and the halt of the host: the forced shutdown of old, a planned
// shutdown that can install waiting updates, and the host's suspend states.
#pragma once

#include <cstdint>
#include <string>

#include "host/result.h"

namespace kalmora {

// The halt Kalmora asks for: the host powers down, and programs that do not
// end are ended.
enum class ShutdownMode { ForcedShutdown };

// What the host's firmware and Windows allow besides powering off.
struct PowerCapabilities {
  bool hibernate = false;  // S4 with a hibernation file
  bool sleep = false;      // S3
};

// InitiateShutdownW's flags and reason as Kalmora passes them: a full power
// off (never a hybrid one, so that wake-on-LAN finds the host off), programs
// ended if they do not end, and a planned reason.
inline constexpr uint32_t kShutdownForceOthers = 0x1;
inline constexpr uint32_t kShutdownForceSelf = 0x2;
inline constexpr uint32_t kShutdownPowerOff = 0x8;
inline constexpr uint32_t kShutdownInstallUpdates = 0x40;
inline constexpr uint32_t kShutdownReasonPlanned = 0x80000000;  // planned, major and minor "other" (0)

class Power {
 public:
  virtual ~Power() = default;
  // Returns when the tone has ended.
  virtual void Beep(uint32_t hz, uint32_t ms) = 0;
  virtual void EnableShutdownPrivilege() = 0;
  virtual void ExitWindowsEx(ShutdownMode mode) = 0;
  // What GetPwrCapabilities reports.
  virtual PowerCapabilities Capabilities() = 0;
  // Whether Windows holds installed updates that wait for a restart.
  virtual bool UpdatesPending() = 0;
  // Starts a shutdown and returns; the system's reason when it refuses.
  virtual Status InitiateShutdown(uint32_t flags, uint32_t reason, const std::string& comment) = 0;
  // Hibernates (or sleeps) the host; returns once it has resumed, or at once
  // with the system's reason when it could not.
  virtual Status SetSuspendState(bool hibernate) = 0;
};

}  // namespace kalmora
