#include "jog/jog_internal.h"
#include "pendant/input_words.h"
#include "pendant/pendant_window.h"
#include "pendant/screen_selection.h"
#include "plugin/host_calls.h"

namespace km4r::jog {

namespace {

struct AdjustedValue {
  JogMode mode;
  short dro;
  double upper;
  double lower;
};

constexpr AdjustedValue kAdjustedValues[] = {
    {JogMode::JogRateAdjust, host::code::kDroJogRate, 100.0, 0.1},
    {JogMode::FeedOverrideAdjust, host::code::kDroFeedOverride, 250.0, 1.0},
    {JogMode::SpindleOverrideAdjust, host::code::kDroSpindleOverride, 250.0, 1.0},
};

// Distance of a StepSize setting; false for an index outside the table, which
// leaves the slot's distance as it was.
bool StepSizeDistance(int setting, double& distance) {
  static constexpr double kDistances[] = {0.0, 0.0001, 0.001, 0.01, 0.1};
  if (setting < 0 || setting > 4) return false;
  distance = kDistances[setting];
  return true;
}

// Stores report byte 2 and tells whether the wheel has just started turning.
bool WheelStartEdge(PendantWindow& w) {
  w.wheelSpeed = WheelSpeedByte(w.inputWord0);
  w.wheelTurning = w.wheelSpeed != 0 ? 1 : 0;
  return w.wheelTurning != 0 && w.wheelWasTurning == 0;
}

void SelectNextStepSize(PendantWindow& w, int direction) {
  const PendantSettings& s = Module().settings;
  const int settings[3] = {s.StepSize1, s.StepSize2, s.StepSize3};
  double* values[3] = {&w.stepSizeValue1, &w.stepSizeValue2, &w.stepSizeValue3};
  for (int i = 0; i < 3; ++i) StepSizeDistance(settings[i], *values[i]);
  if (w.stepSizeSlot < 1 || w.stepSizeSlot > 3) {
    w.stepSizeSlot = 1;
    return;
  }
  // Forward tries n+1 then n+2, backward n-1 then n-2, wrapping within 1..3.
  const int stride = direction == 0 ? 1 : 2;
  int slot = w.stepSizeSlot;
  for (int attempt = 0; attempt < 2; ++attempt) {
    slot = (slot - 1 + stride) % 3 + 1;
    if (settings[slot - 1] == 0) continue;
    w.stepSizeSlot = slot;
    host::SetDRO(host::code::kDroStepSize, *values[slot - 1]);
    return;
  }
}

}  // namespace

void AdjustValue(JogMode jogMode, int direction, int count) {
  if (count == 0) return;
  for (const AdjustedValue& a : kAdjustedValues) {
    if (a.mode != jogMode) continue;
    const double value = host::GetDRO(a.dro);
    if (direction == 0) {
      if (!(value < a.upper)) return;
      double raised = value * (1.0 + 0.005 * count);
      if (raised > a.upper) raised = a.upper;
      host::SetDRO(a.dro, raised);
    } else {
      if (!(value > 0.0)) return;
      double lowered = value * (1.0 - 0.005 * count);
      if (lowered < a.lower) lowered = a.lower;
      host::SetDRO(a.dro, lowered);
    }
    return;
  }
}

void StepSizeSelectMode(PendantWindow& w, int direction, int count) {
  const bool edge = WheelStartEdge(w);
  TickCounters& ticks = Module().ticks;
  if (count != 0) ticks.WheelActiveTicks = kWheelActiveTicks;
  if (ticks.WheelActiveTicks == 0) return;
  if (edge) SelectNextStepSize(w, direction);
  w.wheelWasTurning = w.wheelTurning;
}

void AxisZeroMode(PendantWindow& w, int count) {
  const bool edge = WheelStartEdge(w);
  TickCounters& ticks = Module().ticks;
  if (count != 0) ticks.WheelActiveTicks = kWheelActiveTicks;
  const host::Blocks& b = host::HostBlocks();
  if (ticks.WheelActiveTicks == 0 || host::ResetIndicator(b) != 0 ||
      host::MotionQueueIn(b) != host::MotionQueueOut(b) || host::GetLED(host::code::kLedRun) ||
      host::GetLED(host::code::kLedPause)) {
    return;
  }
  // Only X, Y, Z and A have a zero button.
  if (edge && w.axisIndex >= 0 && w.axisIndex <= 3) {
    host::DoButton(host::code::kButtonZeroX + w.axisIndex);
  }
  w.wheelWasTurning = w.wheelTurning;
}

void ScreenSelectMode(PendantWindow& w, int direction) {
  const bool edge = WheelStartEdge(w);
  TickCounters& ticks = Module().ticks;
  // Here the speed byte, not the count, keeps the mode awake.
  if (w.wheelSpeed != 0) ticks.WheelActiveTicks = kWheelActiveTicks;
  if (ticks.WheelActiveTicks == 0 || host::ResetIndicator(host::HostBlocks()) != 0) return;
  if (edge) {
    if (direction == 1) {
      host::DoButton(host::code::kButtonBackScreen);
    } else if (direction == 0) {
      SelectNextScreen(w);
    }
  }
  w.wheelWasTurning = w.wheelTurning;
}

}  // namespace km4r::jog
