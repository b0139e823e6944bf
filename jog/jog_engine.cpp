#include <cmath>
#include <cstring>
#include <limits>

#include "jog/jog_internal.h"
#include "pendant/input_words.h"
#include "pendant/pendant_window.h"
#include "platform/host_string.h"
#include "plugin/host_calls.h"
#include "settings/choice_tables.h"

namespace km4r {

namespace jog {

bool IsValidAxis(int axis) {
  return axis >= 0 && axis < host::kAxisCount;
}

int AutoChangeThreshold() {
  return km4r::AutoChangeThreshold(Module().settings.AutoChangeSens);
}

int VelocityDivisor() {
  return km4r::VelocityDivisor(Module().settings.VelocityInAuto);
}

void SendMove(const PendantWindow& w, const char* text) {
  if (!w.MayMove()) return;
  if (!Module().selectorChangeBusy) host::Code(text);
  if (w.restoreAbsolute != 0) host::Code("G90");
}

bool JogAllowed() {
  if (!host::GetLED(host::code::kLedRun) && !host::GetLED(host::code::kLedPause)) return true;
  return host::GetLED(host::code::kLedRunOverride);
}

bool JogSwitchedOff() {
  return !host::GetLED(host::code::kLedJogEnabled);
}

void StartOrContinueJog(PendantWindow& w, int direction, double speed) {
  if (w.Superseded()) return;
  const int axis = w.axisIndex;
  const int32_t v = TruncateToInt32(speed);
  if (!w.MayStartMotion()) {
    // What may not be refreshed goes on only as it was: on its axis, in its
    // direction, no faster. The outermost cycle starts it when the host's
    // call returns.
    if (w.jogRunning &&
        (axis != w.jogRunningAxis || direction != w.jogRunningDirection || v < w.jogRunningSpeed))
      StopJogOf(w, w.jogRunningAxis);
    if (w.Nested()) {
      w.startPending = true;
      w.pendingDirection = direction;
      w.pendingSpeed = speed;
    }
    return;
  }
  if (!w.jogStarted) {
    const bool alternate = host::GetLED(host::code::kLedAltJog);
    if (!w.MayStartMotion()) return;
    // Set before the press, so that a cycle run inside it sees the jog
    // started; a 204 pressed stays pressed until the jog's release.
    w.jogStarted = true;
    w.jogRunningMode = w.jogMode;
    w.jogRunningAxis = axis;
    w.altJogPressed = alternate;
    if (alternate) host::DoButton(host::code::kButtonAltJogPress);
    if (!w.MayStartMotion()) return;
  }
  const host::Blocks& b = host::HostBlocks();
  host::SetJogDirection(b, axis, direction);
  host::SetJogSpeed(b, axis, v);
  host::SetJogParam(b, axis, host::AxisJogParam(b, axis));
  host::SetJogVelocityLimit(b, axis, host::AxisVelocityLimit(b, axis));
  host::SetJogStopRequest(b, axis, 0);
  host::SetJogStartRequest(b, axis, 1);
  // Recorded first: a host that runs messages inside the call may end it.
  w.jogRunning = true;
  w.jogRunningMode = w.jogMode;
  w.jogRunningAxis = axis;
  w.jogRunningDirection = direction;
  w.jogRunningSpeed = v;
  host::Code("DOJOG");
}

bool WheelActive() {
  return Module().ticks.WheelActiveTicks != 0;
}

bool ReversalPauseOver() {
  return Module().ticks.DirectionChangeTicks >= kReversalPauseTicks;
}

void StoreInRing(PendantWindow& w, int count) {
  w.deltaRingIndex = w.deltaRingIndex == 0 ? 1 : 0;
  w.deltaRing[w.deltaRingIndex] = count;
}

void NoteStillWheel(PendantWindow& w, int count) {
  if (count == 0) StoreInRing(w, 0);
}

bool WheelStopped(PendantWindow& w, int count) {
  if (count != 0) StoreInRing(w, count);
  if (w.deltaRing[0] + w.deltaRing[1] != 0.0) return false;
  StopAxis(w);
  return true;
}

int32_t TruncateToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

int32_t SaturatingAdd(int32_t a, int64_t b) {
  const int64_t sum = static_cast<int64_t>(a) + b;
  if (sum > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  // Symmetric, so the result always has a magnitude.
  if (sum < -std::numeric_limits<int32_t>::max()) return -std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(sum);
}

}  // namespace jog

void StopJogOf(PendantWindow& w, int axis) {
  // An axis outside the record table has no stop byte to set; the host still
  // gets its "ENDJOG".
  if (jog::IsValidAxis(axis)) host::SetJogStopRequest(host::HostBlocks(), axis, 1);
  w.jogRunning = false;
  w.startPending = false;
  host::Code("ENDJOG");
}

void StopAxis(PendantWindow& w) {
  StopJogOf(w, w.axisIndex);
}

void StartPendingJog(PendantWindow& w) {
  if (!w.startPending || w.Nested()) return;
  w.startPending = false;
  // The outermost cycle acts for the newest decode, which asked for the jog.
  w.cycleSerial = w.decodeSerial;
  jog::StartOrContinueJog(w, w.pendingDirection, w.pendingSpeed);
}

void ReleaseStartButton(PendantWindow& w) {
  w.startPending = false;
  w.jogStarted = false;
  if (w.altJogPressed) {
    host::DoButton(host::code::kButtonAltJogRelease);
    w.altJogPressed = false;
  }
}

void SetHostStatus(const char* text) {
  void* slot = host::StatusTextSlot(host::HostBlocks());
  // Re-assigning the text already shown changes nothing for the host but would
  // allocate on every cycle while jogging is switched off.
  if (std::strcmp(platform::HostString::TextAt(slot), text) == 0) return;
  platform::HostString::AssignAt(slot, text);
}

void PendantWindow::RunJogEngine(int direction, int count) {
  // The engine's own clock, for a host that calls Update rarely or never.
  const auto tick = [](int32_t& cycles) {
    if (cycles < jog::kOwnCycleFallback) ++cycles;
  };
  if (WheelSpeedByte(inputWord0) != 0) {
    wheelIdleCycles = 0;
  } else {
    tick(wheelIdleCycles);
  }
  tick(reversalPauseCycles);
  TickCounters& ticks = Module().ticks;
  if (ticks.UpdateSequence != lastUpdateSequence) {
    lastUpdateSequence = ticks.UpdateSequence;
    cyclesWithoutUpdate = 0;
  } else {
    tick(cyclesWithoutUpdate);
  }
  // Where the host's Update calls do not come, the plug-in's own cycles run
  // the two counters out that bound a jog's release and a reversal's pause.
  if (cyclesWithoutUpdate >= jog::kOwnCycleFallback) {
    if (wheelIdleCycles >= jog::kOwnCycleFallback) ticks.WheelActiveTicks = 0;
    if (reversalPauseCycles >= jog::kOwnCycleFallback &&
        ticks.DirectionChangeTicks < jog::kReversalPauseTicks)
      ticks.DirectionChangeTicks = jog::kReversalPauseTicks;
  }

  const bool reset = host::ResetIndicator(host::HostBlocks()) != 0;
  const bool estop = estopLatched != 0;
  const bool held = enableHeld != 0;
  // Step counts belong to the step jog they were turned in.
  if (held || reset || estop || jogMode != JogMode::StepJog) stepCarry = 0;
  // A jog whose mode will not be reached any more (switch held, host reset,
  // E-stop, selectors moved to another mode or axis) would have nobody to
  // stop it; outside its mode nobody would release its start button either.
  const bool leftMode = held || reset || estop || jogMode != jogRunningMode;
  if (jogRunning && (leftMode || axisIndex != jogRunningAxis)) StopJogOf(*this, jogRunningAxis);
  if (Superseded()) return;
  if (leftMode && (jogStarted || altJogPressed)) ReleaseStartButton(*this);
  if (Superseded()) return;
  // enableHeld is the previous report's switch: the decoder refreshes it after
  // this call. The turn after the switch is a new one.
  if (held) {
    StartNewTurn();
    return;
  }
  if (estop) {
    // Nothing turned before or during the E-stop may move the machine later.
    jogCountAccumulator = 0;
    autoVelocityActive = false;
    return;
  }
  if (reset) {
    jogCountAccumulator = 0;
    jogStarted = false;
    if (altJogPressed) {
      host::DoButton(host::code::kButtonAltJogRelease);
      altJogPressed = false;
    }
    return;
  }
  switch (jogMode) {
    case JogMode::VelocityJog:
      if (jog::IsValidAxis(axisIndex)) jog::VelocityJogMode(*this, direction, count);
      break;
    case JogMode::RateJog:
      if (jog::IsValidAxis(axisIndex)) jog::RateJogMode(*this, direction, count);
      break;
    case JogMode::JogRateAdjust:
    case JogMode::FeedOverrideAdjust:
    case JogMode::SpindleOverrideAdjust:
      jog::AdjustValue(jogMode, direction, count);
      break;
    case JogMode::StepJog:
      if (jog::IsValidAxis(axisIndex)) jog::StepJogMode(*this, direction, count);
      break;
    case JogMode::StepSizeSelect:
      jog::StepSizeSelectMode(*this, direction, count);
      break;
    case JogMode::AxisZero:
      jog::AxisZeroMode(*this, count);
      break;
    case JogMode::ScreenSelect:
      jog::ScreenSelectMode(*this, direction);
      break;
    default:
      break;
  }
}

}  // namespace km4r
