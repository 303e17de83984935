// The seam between Kalmora's (and Zorvane's) logic and the world, as one
// object with every role.
//
// Each role is a small interface of its own (clock.h, event_loop.h,
// program.h, processes.h, files.h, profile.h, service_control.h,
// event_log.h, desktops.h, service_manager.h, power.h, signature.h), and
// code that needs only some of them takes only those. A Host has them all:
// the Windows host talks to the real system; the simulated host runs on a
// virtual clock and records every effect.
#pragma once

#include "host/clock.h"
#include "host/desktops.h"
#include "host/event_log.h"
#include "host/event_loop.h"
#include "host/files.h"
#include "host/power.h"
#include "host/processes.h"
#include "host/profile.h"
#include "host/program.h"
#include "host/service_control.h"
#include "host/service_manager.h"
#include "host/signature.h"

namespace kalmora {

class Host : public Clock,
             public EventLoop,
             public Program,
             public Processes,
             public Files,
             public Profile,
             public ServiceControl,
             public EventLog,
             public Desktops,
             public ServiceManager,
             public Power,
             public SignatureVerifier {};

}  // namespace kalmora
