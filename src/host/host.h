// The one seam between Kalmora's (and Zorvane's) logic and the world.
//
// Everything the programs do outside their own memory goes through Host:
// the clock, the event loop and its timers, the service manager, the event
// log, message boxes, child processes, files, the profile lookup, beeps and
// the shutdown request. The Windows host talks to the real system; the
// simulated host runs on a virtual clock and records every effect.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "host/desktops.h"
#include "host/result.h"
#include "host/service_manager.h"

namespace kalmora {

class SignatureVerifier;  // update/signature.h

// The kinds of event-log entries, in the caller's words; each host maps them
// to its own numbers.
enum class EventType { Error, Warning, Information };

// Kalmora's message ids in its event message file: one for failures, one for
// everything else.
enum class EventId : int32_t { Failure = 109, Report = 110 };

// How the registered service starts.
enum class StartType { Automatic };

// What the service manager may tell the running service: stop requests
// only, or also the system's power events (resume from sleep, hibernation
// or Fast Startup).
enum class ServiceControls { Stop, StopAndPowerEvents };

// The halt Kalmora asks for: the host powers down, and programs that do not
// end are ended.
enum class ShutdownMode { ForcedShutdown };

// A child program that was started and is waited for.
struct ChildProcess {
  uint64_t id = 0;
};

// The program's periodic timers. Each lives on the program's single event
// loop and is delivered to EventSink::OnTimer while events are processed.
enum class TimerId { Delay, WaitExit, Update };

enum class MsgIcon { None, Information, Warning };

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

struct ProgramVersion {
  int16_t major = 0;
  int16_t minor = 0;
  int16_t revision = 0;
};

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

class Host {
 public:
  virtual ~Host() = default;

  // --- clock -------------------------------------------------------------
  virtual LocalTime Now() = 0;
  // Local time of day in seconds since midnight, single precision; falls
  // back to 0 at midnight.
  virtual float SecondsSinceMidnight() = 0;
  // Milliseconds from an arbitrary origin; only ever grows. Waits use this.
  virtual int64_t ElapsedMs() = 0;
  // How far local time is ahead of UTC now, in minutes (negative west of
  // Greenwich).
  virtual int UtcOffsetMinutes() = 0;

  // --- event loop ---------------------------------------------------------
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

  // --- process and window ----------------------------------------------------
  // The argument string: the command line after the program's own name and
  // the blanks that follow it.
  virtual std::string CommandLineArgs() = 0;
  virtual std::string ProgramDirectory() = 0;
  virtual bool SetCurrentDirectory(const std::string& dir) = 0;
  virtual void HideWindow() = 0;
  // Modal, OK button only.
  virtual void ShowMessage(const std::string& caption, const std::string& text, MsgIcon icon) = 0;
  // Starts a command line with a hidden window in the working directory,
  // never through a shell, and lets it run on its own.
  virtual Status StartProcess(const std::string& command_line) = 0;
  // The same for a child whose end is waited for: ChildExitStatus tells
  // whether it has ended and with which status; ReleaseChild forgets it, and
  // first ends it (with everything it started) when asked to.
  virtual Result<ChildProcess> StartChild(const std::string& command_line) = 0;
  virtual std::optional<uint32_t> ChildExitStatus(ChildProcess child) = 0;
  virtual void ReleaseChild(ChildProcess child, bool end_if_running) = 0;
  virtual ProgramVersion Version() = 0;
  // Claims the one Kalmora of this host for the life of this process:
  // nothing when it is ours, else the id of the process that holds it.
  virtual std::optional<uint32_t> ClaimInstance() = 0;
  // The host's network name.
  virtual std::string ComputerName() = 0;
  // The ANSI code page that kalmora.ini and body files are read in (1252
  // for Western Europe): the charset of the mail they make.
  virtual uint32_t AnsiCodePage() = 0;

  // --- service host ----------------------------------------------------------
  virtual void SetInteractiveDesktop(bool on) = 0;
  virtual void SetStartType(StartType type) = 0;
  virtual Status RegisterService() = 0;
  virtual Status UnregisterService() = 0;
  virtual void SetDebugMode(bool on) = 0;
  virtual void SetAcceptedControls(ServiceControls controls) = 0;
  virtual void ConnectServiceManager() = 0;
  virtual bool IsServiceRunning() = 0;
  virtual void ReportServiceStopped() = 0;
  virtual void LogEvent(EventType type, EventId id, const std::string& text) = 0;
  // A message box in every active user session, without waiting for an
  // answer; each goes away by itself after `timeout_s` seconds. The number of
  // sessions it was shown in.
  virtual Result<int> ShowSessionMessage(const std::string& title, const std::string& text, uint32_t timeout_s) = 0;
  // The service manager as another program uses it (Zorvane's restart).
  virtual ServiceManager& Services() = 0;
  // The logged-on sessions and the desk program in them.
  virtual Desktops& Desks() = 0;
  // The platform's cryptography for the signed update.
  virtual SignatureVerifier& Signatures() = 0;

  // --- files (names relative to the working directory; '\' separates) -------
  virtual Status DeleteFile(const std::string& name) = 0;
  // Rename that replaces `to` in one step, so that no moment exists in which
  // neither file is there.
  virtual Status ReplaceFile(const std::string& from, const std::string& to) = 0;
  // A directory search for the exact name; hidden and system files count as
  // missing.
  virtual bool FileExists(const std::string& name) = 0;
  // The file's bytes, or nothing when it cannot be opened.
  virtual std::optional<std::string> ReadFile(const std::string& name) = 0;
  // Creates or truncates the file and writes the bytes.
  virtual Status WriteFile(const std::string& name, const std::string& bytes) = 0;
  // The SHA-256 digest of a file's bytes (32 bytes); nothing when unreadable.
  virtual std::optional<std::string> Sha256OfFile(const std::string& name) = 0;

  // GetPrivateProfileStringA with a buffer of `buffer_size` characters:
  // returns the value (at most buffer_size - 1 characters) or the default.
  virtual std::string GetProfileString(const std::string& section, const std::string& key,
                                       const std::string& default_value, const std::string& path,
                                       size_t buffer_size) = 0;

  // --- sound and shutdown -------------------------------------------------------
  // Returns when the tone has ended.
  virtual void Beep(uint32_t hz, uint32_t ms) = 0;
  virtual void EnableShutdownPrivilege() = 0;
  virtual void ExitWindowsEx(ShutdownMode mode) = 0;
};

}  // namespace kalmora
