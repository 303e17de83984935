// The programs the simulated world runs: Kalmora and Zorvane themselves.
#include "host/sim/sim_host.h"
#include "service/frm_main.h"
#include "updater/frm_zorvane.h"

namespace kalmora::sim {

void RunSimulatedProgram(const std::string& program, SimHost& host, const Options& options) {
  if (program == "zorvane") RunZorvane(host);
  RunKalmora(host, options.online_update);
}

}  // namespace kalmora::sim
