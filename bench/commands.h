// The bench's commands other than `run`.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "bench/host/host_sim.h"
#include "bench/sim_machine.h"

namespace km4r::bench {

// The host and machine the demo and live mode start from: jogging enabled,
// a step size of 0.001 as the host's step increment, feed 1500, overrides at
// 100 %, jog rate 50 %, and every axis allowed 600 units per minute.
void SetUpDemoMachine(sim::HostSim& host, SimMachine& machine);

// Plays the built-in session on the virtual pendant in virtual time;
// paceMs > 0 sleeps that long between frames.
int RunDemo(const std::string& modulePath, int paceMs, std::ostream& out, std::ostream& err);

// The scenario lines that set up the same host and machine as
// SetUpDemoMachine, for recordings.
std::vector<std::string> DemoMachineScenario();

struct LiveOptions {
  std::string module;
  std::string sysfs = "/sys/class/hidraw";  // Linux: where pendants are looked up
  std::string dev = "/dev";                 // Linux: where their nodes are
  std::string testDevices;                  // Windows: stand-in HID devices instead of the system's
  bool raw = false;                         // show each input report
  std::string record;                       // write the session as a scenario
  bool force = false;                       // record over an existing file
  std::string profile;                      // the settings the plug-in runs on
  bool replayable = true;                   // `run` here can replay the recording
};

// Runs the module with the pendant, in real time, until Ctrl-C: waits for
// the pendant, reports each plug and unplug and prints the host actions.
int RunLive(const LiveOptions& options, std::ostream& out, std::ostream& err);

// $XDG_CONFIG_HOME/km4r-pendant/profile.xml, or ~/.config/... without it.
std::string DefaultProfilePath();

// Opens the configuration dialog on the profile.
int RunConfig(const std::string& modulePath, const std::string& profilePath, std::ostream& out,
              std::ostream& err);

#if !defined(_WIN32)
// The device node of the first hidraw device under sysfsRoot whose uevent
// names the pendant ("" when none). Exposed for tests.
std::string FindPendantNode(const std::string& sysfsRoot);
#endif

}  // namespace km4r::bench
