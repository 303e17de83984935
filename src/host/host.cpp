#include "host/host.h"

namespace kalmora {

const char* ExitReasonName(ExitReason r) {
  switch (r) {
    case ExitReason::Halt:
      return "halt";
    case ExitReason::Stop:
      return "stop";
    case ExitReason::ExitTimer:
      return "exit-timer";
    case ExitReason::Config:
      return "config";
    case ExitReason::Update:
      return "update";
    case ExitReason::Command:
      return "command";
    case ExitReason::CommandFailed:
      return "command-failed";
    case ExitReason::Done:
      return "done";
    case ExitReason::Until:
      return "until";
  }
  return "unknown";
}

}  // namespace kalmora
