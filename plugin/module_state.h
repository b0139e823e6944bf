// Module-level state: one plug-in instance per process, so everything the
// entry points and the pendant logic share lives here.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/host_interface.h"
#include "settings/pendant_settings.h"

namespace km4r {

class PendantWindow;

// Host Update calls a turning wheel counts as active for after its last report.
inline constexpr int32_t kWheelActiveTicks = 3;

// Advanced once per host Update call, in this order.
struct TickCounters {
  int16_t UpdateSequence = 1;
  int32_t DisplayPhase = 100;
  int32_t DirectionChangeTicks = 100;
  int32_t WheelActiveTicks = 0;
  int32_t DroRestoreTicks = 0;

  void Advance();
};

struct ModuleState {
  host::Callbacks callbacks;
  host::Blocks blocks;
  std::string profilePath;
  std::string pluginName;
  PendantWindow* window = nullptr;
  // Window message handlers running: a host callback may call an entry point.
  // A window let go of while its handler runs is deleted when the outermost
  // handler returns, and the host hears nothing more from it meanwhile.
  int handlerDepth = 0;
  PendantWindow* handlingWindow = nullptr;
  PendantWindow* retiredWindow = nullptr;
  PendantSettings settings;
  TickCounters ticks;
  // Input reports read that were not the pendant's (wrong length or report
  // id), since the module loaded; wraps.
  uint32_t decodeErrors = 0;
  // Shared by the decoder, the screen selection and the display.
  int32_t currentScreenCode = 1;
  bool selectorChangeBusy = false;
  // What became of the profile in the last entry point that used it:
  // "saved", "cancelled", "not saved: REASON" after Config, the reason the
  // file was left alone (or "") after SetProName and PostInitControl.
  std::string profileOutcome;
  // Display working values kept between cycles.
  double shownAxisValue = 0.0;
  char positionText[32] = {};
};

ModuleState& Module();

// Deletes a window, or, while its own message handler runs, marks it to be
// deleted when the handler returns.
void ReleaseWindow(PendantWindow* window);

// Back to the state at module load (tests run many plug-in lifetimes in one
// process). Deletes a window that is still alive.
void ResetModuleState();

}  // namespace km4r
