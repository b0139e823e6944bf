#include "plugin/module_state.h"

#include "pendant/pendant_window.h"

namespace km4r {

void TickCounters::Advance() {
  if (UpdateSequence > 254) UpdateSequence = 1;
  ++UpdateSequence;
  if (DisplayPhase == 0) DisplayPhase = 25;
  --DisplayPhase;
  if (DirectionChangeTicks > 1000) DirectionChangeTicks = 100;
  ++DirectionChangeTicks;
  if (WheelActiveTicks != 0) --WheelActiveTicks;
  if (DroRestoreTicks != 0) --DroRestoreTicks;
}

ModuleState& Module() {
  static ModuleState state;
  return state;
}

void ReleaseWindow(PendantWindow* window) {
  ModuleState& m = Module();
  if (window != nullptr && window == m.handlingWindow) {
    m.retiredWindow = window;
  } else {
    delete window;
  }
}

void ResetModuleState() {
  ModuleState& m = Module();
  delete m.window;
  m = ModuleState{};
}

}  // namespace km4r
