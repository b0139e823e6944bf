// Turns the input report into pendant state and host actions. Every action is
// driven by a change against the previous decode, so decoding the same report
// again does nothing, except the E-stop press, which repeats until the host
// shows it took effect.
#include <optional>

#include "jog/jog_steps.h"
#include "pendant/input_words.h"
#include "pendant/pendant_window.h"
#include "pendant/screen_selection.h"
#include "plugin/host_calls.h"

namespace km4r {

namespace {

void UpdateModeFlags(PendantWindow& w) {
  const int m = ModeField(w.inputWord0);
  if (m == 0) return;  // the pendant reports no mode between positions
  w.mode1Active = m == 1 ? 1 : 0;
  w.mode2Active = m == 2 ? 1 : 0;
  w.mode3Active = m == 3 ? 1 : 0;
}

// The jog mode the selectors ask for, or none when no rule names this
// position.
std::optional<JogMode> SelectJogMode(const PendantWindow& w, bool caMode) {
  const int axis = w.axisSelector;
  const int step = w.stepSelector;
  if (w.mode3Active != 0) {
    if (step == 6) return JogMode::ScreenSelect;
    if (axis == 6) return JogMode::JogRateAdjust;
    if (axis == 4) return JogMode::FeedOverrideAdjust;
    if (axis == 5) return JogMode::SpindleOverrideAdjust;
  } else if (w.mode2Active != 0) {
    if (axis == 6 && !caMode) return JogMode::JogRateAdjust;
    if (axis == 4) return JogMode::FeedOverrideAdjust;
    if (axis == 5) return JogMode::SpindleOverrideAdjust;
  } else {
    const bool m1 = w.mode1Active != 0;
    if (step == 4) return JogMode::JogRateAdjust;
    if (step == 5) return JogMode::FeedOverrideAdjust;
    if (step == 6) return JogMode::SpindleOverrideAdjust;
    if ((step == 2 && !m1) || (axis == 5 && m1)) return JogMode::StepSizeSelect;
    if (step == 1) return JogMode::StepJog;
    if (step == 2 && m1) return JogMode::VelocityJog;
    if (step == 3) return JogMode::RateJog;
    return std::nullopt;
  }
  switch (step) {
    case 1:
      return JogMode::StepJog;
    case 2:
      return JogMode::VelocityJog;
    case 3:
      return JogMode::RateJog;
    case 4:
      return JogMode::StepSizeSelect;
    case 5:
      return JogMode::AxisZero;
    default:
      return std::nullopt;
  }
}

// The axis the selector names, or -1 to keep the current one.
int32_t SelectAxis(const PendantWindow& w, int s, bool caMode) {
  if (s == 1) return 0;
  if (s == 2) return 1;
  if (s == 3) return 2;
  if (s == 4 && w.mode2Active == 0) return 3;
  if (s == 6 && w.mode2Active != 0 && caMode) return 3;
  if (s == 5 && w.mode1Active == 0 && w.mode2Active == 0) return 4;
  if (s == 7 && w.mode3Active != 0) return 3;
  return -1;
}

// A new axis selection ends whatever jog the old one had running.
void StopJogsForSelectorChange(PendantWindow& w) {
  const host::Blocks& b = host::HostBlocks();
  w.jogCountAccumulator = 0;
  if (host::MotionQueueOut(b) != host::MotionQueueIn(b)) Module().selectorChangeBusy = true;
  for (int axis = 0; axis < 4; ++axis) host::SetJogStopRequest(b, axis, 1);
  // Axis B has no stop request here: the engine still owes its jog one.
  if (w.jogRunningAxis < 4) w.jogRunning = false;
  w.stepCarry = 0;
  host::Code("ENDJOG");
}

}  // namespace

// The latch is set before the press: a host that pumps messages inside the
// press must not see the switch as news a second time.
void PendantWindow::HandleEstop(uint32_t word0) {
  const bool pressed = EstopBit(word0) != 0;
  if (pressed) {
    if (estopLatched == 0) {
      estopLatched = 1;
      host::DoButton(host::code::kButtonEstop);
    } else if (!host::GetLED(host::code::kLedReset)) {
      host::DoButton(host::code::kButtonEstop);
    }
  } else if (estopLatched != 0) {
    estopLatched = 0;
    host::DoButton(host::code::kButtonEstop);
  }
}

void PendantWindow::DecodeInput() {
  ModuleState& m = Module();
  const PendantSettings& settings = m.settings;
  const bool caMode = settings.CAmode != 0;

  // Each decode decides afresh what a nested cycle leaves to start.
  startPending = false;

  // Words and mode.
  inputWord0 = ReportWord(inputReport, 0);
  inputWord1 = ReportWord(inputReport, 4);
  UpdateModeFlags(*this);

  // A cycle run inside any host call below has decoded a newer report: the
  // rest of this one's decode would act on the older.
  HandleEstop(inputWord0);
  if (Superseded()) return;

  // Jog mode; the button names the axis as it stood before this report.
  axisSelector = AxisSelectorBits(inputWord0);
  stepSelector = StepSelectorBits(inputWord1);
  if (const std::optional<JogMode> mode = SelectJogMode(*this, caMode)) jogMode = *mode;
  const bool modeChanged = jogMode != prevJogMode;
  prevJogMode = jogMode;
  // Counts turned in another mode are no part of this one's turn.
  if (modeChanged) {
    StartNewTurn();
    host::DoButton(host::code::kButtonJogModeBase + axisIndex);
  }
  if (Superseded()) return;

  // Axis.
  const int s = AxisSelectorBits(inputWord0);
  if (const int32_t axis = SelectAxis(*this, s, caMode); axis >= 0) axisIndex = axis;
  const bool axisMoved = s != prevAxisSelector;
  prevAxisSelector = s;
  if (axisMoved) StopJogsForSelectorChange(*this);
  if (Superseded()) return;
  {
    const host::Blocks& b = host::HostBlocks();
    if (m.selectorChangeBusy && host::MotionQueueOut(b) == host::MotionQueueIn(b))
      m.selectorChangeBusy = false;
  }

  // Handwheel.
  const int count = WheelCountByte(inputWord0);
  const WheelMotion motion = WheelDifference(count, lastWheelCount, wheelDirection);
  wheelSteps = motion.steps;
  wheelDirection = motion.direction;
  lastWheelCount = count;
  RunJogEngine(wheelDirection, wheelSteps);
  if (Superseded()) return;
  if (droRestorePending != 0 && m.ticks.DroRestoreTicks == 0) {
    droRestorePending = 0;
    host::SetDRO(host::code::kDroFeedRate, savedDro818);
    if (settings.StepJogRate != 0) host::SetDRO(host::code::kDroFeedOverride, savedDro821);
    if (Superseded()) return;
  }

  // Switch and wheel start.
  enableHeld = EnableBit(inputWord0);
  if (!InScreenSelectPosition(*this)) return;
  wheelSpeed = WheelSpeedByte(inputWord0);
  wheelTurning = wheelSpeed != 0 ? 1 : 0;
  if (wheelSpeed != 0) m.ticks.WheelActiveTicks = kWheelActiveTicks;
  if (m.ticks.WheelActiveTicks == 0 || host::ResetIndicator(host::HostBlocks()) != 0) return;
  if (wheelTurning != 0 && wheelWasTurning == 0) {
    if (wheelDirection == 1) {
      host::DoButton(host::code::kButtonBackScreen);
    } else {
      SelectNextScreen(*this);
    }
  }
  wheelWasTurning = wheelTurning;
}

}  // namespace km4r
