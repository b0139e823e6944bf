#include <algorithm>

#include "jog/jog_internal.h"
#include "pendant/input_words.h"
#include "pendant/pendant_window.h"
#include "plugin/host_calls.h"

namespace km4r::jog {

namespace {

// Oldest to newest; they add up to 10.
constexpr double kSmoothingWeights[10] = {0.18, 0.36, 0.55, 0.73, 0.91,
                                          1.09, 1.27, 1.45, 1.64, 1.82};
constexpr int kHistoryLength = 10;
constexpr int32_t kRateCountCeiling = 30000;
constexpr int32_t kRateCountFallback = 400;

void ClearSpeedHistory(PendantWindow& w) {
  for (double& h : w.speedHistory) h = 0.0;
}

double SmoothedSpeed(PendantWindow& w, int s) {
  double sum = 0.0;
  for (int i = 0; i + 1 < kHistoryLength; ++i) {
    w.speedHistory[i] = w.speedHistory[i + 1];
    sum += kSmoothingWeights[i] * w.speedHistory[i];
  }
  w.speedHistory[kHistoryLength - 1] = s;
  return sum + kSmoothingWeights[kHistoryLength - 1] * s;
}

// The velocity-driven jog shared by VelocityJog and the automatic jog out of
// StepJog; `automatic` selects where the start button is released.
void VelocitySteps(PendantWindow& w, int direction, int count, int divisor, bool automatic) {
  TickCounters& ticks = Module().ticks;
  const int s = w.wheelSpeed;
  NoteStillWheel(w, count);
  // A running jog is turned round only through "ENDJOG" and the pause, however
  // the host's Update calls have run the ticks down.
  if (direction != w.lastJogDirection && (WheelActive() || w.jogRunning)) {
    StopAxis(w);
    ClearSpeedHistory(w);
    ticks.DirectionChangeTicks = 0;
    w.reversalPauseCycles = 0;
    w.lastJogDirection = direction;
    return;
  }
  if (!ReversalPauseOver()) return;
  if (s != 0) {
    ticks.WheelActiveTicks = kWheelActiveTicks;
    if (JogSwitchedOff()) {
      if (!w.Superseded()) SetHostStatus(kJogOffText);
      return;
    }
  }
  if (!WheelActive()) {
    // The host may call Update often enough between two reports to run the
    // ticks out before the report whose byte 2 drops to 0.
    if (w.jogRunning) StopAxis(w);
    if (!automatic) ReleaseStartButton(w);
    ClearSpeedHistory(w);
    return;
  }
  if (WheelStopped(w, count)) return;
  if (!JogAllowed() || w.Superseded()) return;

  const double weighted = SmoothedSpeed(w, s);
  w.velocityFraction = weighted / 400.0 * 3.0 / divisor;
  if (w.velocityFraction > 1.0) w.velocityFraction = 1.0;
  const double limit = host::AxisVelocityLimit(host::HostBlocks(), w.axisIndex);
  if (s == 0) {
    StopAxis(w);
    if (automatic) ReleaseStartButton(w);
  } else {
    StartOrContinueJog(w, direction, limit * w.velocityFraction);
  }
  if (!w.Superseded()) w.lastJogDirection = direction;
}

}  // namespace

void VelocityJogMode(PendantWindow& w, int direction, int count) {
  w.wheelSpeed = WheelSpeedByte(w.inputWord0);
  VelocitySteps(w, direction, count, VelocityDivisor(), false);
}

void AutoContinuousJog(PendantWindow& w, int direction, int count) {
  w.wheelSpeed = WheelSpeedByte(w.inputWord0);
  const int divisor = VelocityDivisor();
  w.autoVelocityUsed = true;
  w.jogTickCountdown = 5;
  w.autoVelocityActive = w.wheelSpeed != 0;
  VelocitySteps(w, direction, count, divisor, true);
}

void RateJogMode(PendantWindow& w, int direction, int count) {
  TickCounters& ticks = Module().ticks;
  w.wheelSpeed = WheelSpeedByte(w.inputWord0);
  const int s = w.wheelSpeed;
  NoteStillWheel(w, count);
  if (direction != w.lastJogDirection && (WheelActive() || w.jogRunning)) {
    StopAxis(w);
    ticks.DirectionChangeTicks = 0;
    w.reversalPauseCycles = 0;
    w.rateJogCount = 0;
    w.lastJogDirection = direction;
    return;
  }
  if (!ReversalPauseOver()) return;
  if (s != 0) {
    ticks.WheelActiveTicks = kWheelActiveTicks;
    // Saturating: DelaySteps is not range-checked, so a huge one could
    // otherwise let the count run past the int32 range.
    w.rateJogCount = SaturatingAdd(w.rateJogCount, count);
    if (JogSwitchedOff()) {
      if (!w.Superseded()) SetHostStatus(kJogOffText);
      return;
    }
  }
  if (!WheelActive()) {
    w.rateJogCount = 0;
    if (w.jogRunning) StopAxis(w);
    ReleaseStartButton(w);
    return;
  }
  // A running jog always reaches the stop tests below.
  if (w.rateJogCount < Module().settings.DelaySteps && !w.jogRunning) return;
  // The fall-back must not drop the count below DelaySteps: the next call would
  // then end before the stopped-wheel test and a running jog would never get
  // its "ENDJOG".
  if (w.rateJogCount > kRateCountCeiling)
    w.rateJogCount = std::max(kRateCountFallback, Module().settings.DelaySteps);
  if (WheelStopped(w, count)) return;
  if (!JogAllowed() || w.Superseded()) return;

  const double speed = host::GetDRO(host::code::kDroJogRate) *
                       host::AxisVelocityLimit(host::HostBlocks(), w.axisIndex) / 100.0;
  if (s == 0) {
    StopAxis(w);
  } else {
    StartOrContinueJog(w, direction, speed);
  }
  if (!w.Superseded()) w.lastJogDirection = direction;
}

}  // namespace km4r::jog
