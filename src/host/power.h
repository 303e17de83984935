// Beeps and the halt of the host.
#pragma once

#include <cstdint>

namespace kalmora {

// The halt Kalmora asks for: the host powers down, and programs that do not
// end are ended.
enum class ShutdownMode { ForcedShutdown };

class Power {
 public:
  virtual ~Power() = default;
  // Returns when the tone has ended.
  virtual void Beep(uint32_t hz, uint32_t ms) = 0;
  virtual void EnableShutdownPrivilege() = 0;
  virtual void ExitWindowsEx(ShutdownMode mode) = 0;
};

}  // namespace kalmora
