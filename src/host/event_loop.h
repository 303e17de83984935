// The program's one thread and its event loop: the timers, the service
// manager's requests, and how a program ends.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace kalmora {

// The program's periodic timers. Each lives on the program's single event
// loop and is delivered to EventSink::OnTimer while events are processed.
enum class TimerId { Delay, WaitExit, Update };

// The countdown's tick: every ten seconds while a halt is armed.
inline constexpr uint32_t kTickMs = 10000;

// Why a program ended; the simulator prints these as they stand here.
enum class ExitReason {
  Halt,            // the shutdown request was sent
  Stop,            // the service manager asked us to stop
  ExitTimer,       // tmrWaitExit fired after a check that armed nothing
  Config,          // kalmora.ini could not be read
  Update,          // handed over to Zorvane
  Command,         // -install or -uninstall done, or a bad argument
  CommandFailed,   // -install or -uninstall could not be done
  AlreadyRunning,  // another Kalmora runs on this host; this start ended
  Done,            // Zorvane finished
  Until,           // the simulation reached its end (simulator only)
  Killed,          // the process was ended from outside (simulator only)
};

const char* ExitReasonName(ExitReason r);

// What the host delivers to the program on its one thread.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void OnServiceStartRequested(bool& success) = 0;
  virtual void OnServiceStopRequested() = 0;
  virtual void OnTimer(TimerId id) = 0;
  // The host has resumed from sleep, hibernation or Fast Startup; delivered
  // only to a service that accepts power events.
  virtual void OnPowerResume() {}
};

// Thrown nowhere by the core itself; hosts may end the program by unwinding
// with it (the simulator does). Core code must never swallow it, which is why
// it is not derived from std::exception and step guards catch only those.
struct ProgramEnded {
  ExitReason reason;
};

class EventLoop {
 public:
  virtual ~EventLoop() = default;
  virtual void SetEventSink(EventSink* sink) = 0;
  // Delivers every pending event (due timers, service events) and returns.
  virtual void DoEvents() = 0;
  virtual void Sleep(uint32_t ms) = 0;
  virtual void SetTimerInterval(TimerId id, uint32_t ms) = 0;
  virtual void EnableTimer(TimerId id, bool enabled) = 0;
  virtual bool TimerEnabled(TimerId id) = 0;
  // Idles, delivering events as they come, until the program ends.
  [[noreturn]] void RunEventLoop() {
    IdleUntilEnd();
    std::abort();
  }
  // Ends the program at once, from anywhere; nothing after it runs.
  [[noreturn]] void ExitProgram(ExitReason reason) {
    EndProgram(reason);
    std::abort();
  }
  // What the two above do; neither returns on any host.
  virtual void IdleUntilEnd() = 0;
  virtual void EndProgram(ExitReason reason) = 0;
};

}  // namespace kalmora
