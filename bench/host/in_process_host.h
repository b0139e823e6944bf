// The host of our own with the plug-in linked into the same program (the
// tests, the fuzzers, the cycle benchmark): making one resets the plug-in's
// module state and installs the host's callbacks and blocks into it.
#pragma once

#include "bench/host/host_sim.h"

namespace km4r::sim {

class InProcessHost : public HostSim {
 public:
  InProcessHost();
  ~InProcessHost();

  // Installs callbacks and blocks into the module state (done by the ctor).
  void Install();
  // Starts the plug-in through its entry points as a host does: the six
  // setters, SetProName, InitControl with the blocks and hostWindow, then
  // PostInitControl.
  void Start(void* hostWindow);
};

}  // namespace km4r::sim
