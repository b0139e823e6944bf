#include "hal/pendant_host.h"

#include <cmath>
#include <cstring>

#include "bench/sim_machine.h"
#include "plugin/host_interface.h"

namespace km4r::hal {

namespace code = host::code;

namespace {
// Below this a step size is taken as unset: the counts then carry 0.1 µm.
constexpr double kFinestScale = 0.0001;
// An override LinuxCNC reports within this time of the module's own change
// is its echo, not the operator's: the module's value stands.
constexpr uint64_t kEchoMs = 250;
}  // namespace

PendantHost::PendantHost(sim::HostSim& state) : state_(state) {
  state_.dro[code::kDroJogRate] = 50.0;
  state_.dro[code::kDroFeedOverride] = 100.0;
  state_.dro[code::kDroSpindleOverride] = 100.0;
  state_.dro[code::kDroStepSize] = 0.01;
  host::Store(state_.blockC.data(), host::offset::kStepIncrement, 0.01);
  // Not 0: LinuxCNC keeps its own distance mode, so no "G90" follows a step.
  host::Store(state_.blockB.data(), host::offset::kDistanceMode, int32_t{1});
  for (int axis = 0; axis < kAxes; ++axis) out_.jogScale[static_cast<std::size_t>(axis)] = 0.01;
}

double PendantHost::StepSize() const {
  const double step = host::StepIncrement(
      host::Blocks{state_.blockA.data(), state_.blockB.data(), state_.blockC.data(), nullptr});
  return step >= kFinestScale ? step : kFinestScale;
}

void PendantHost::DoButton(short c) {
  if (c >= code::kButtonZeroX && c < code::kButtonZeroX + kZeroAxes) {
    // An MDI command in LinuxCNC: it runs only when nothing else moves.
    if (mayMove_) zeroCycles_[static_cast<std::size_t>(c - code::kButtonZeroX)] = kZeroPulseCycles;
  } else if (c == code::kButtonEstop) {
    // The module presses this once on engaging (again only while LED 800 is
    // unlit, which the latch lights) and once on release.
    out_.estop = !out_.estop;
    state_.led[code::kLedReset] = out_.estop || state_.led[code::kLedReset];
    if (out_.estop) Halt();
  }
}

void PendantHost::SetDro(short c, double value) {
  state_.dro[c] = value;
  if (c == code::kDroStepSize) {
    host::Store(state_.blockC.data(), host::offset::kStepIncrement, value);
  } else if (c == code::kDroFeedOverride) {
    feed_.lastSetMs = nowMs_;
    feed_.setOnce = true;
  } else if (c == code::kDroSpindleOverride) {
    spindle_.lastSetMs = nowMs_;
    spindle_.setOnce = true;
  }
}

void PendantHost::Code(const char* text) {
  if (text == nullptr) return;
  if (std::strcmp(text, "DOJOG") == 0) {
    for (int axis = 0; axis < kAxes; ++axis)
      jogging_[static_cast<std::size_t>(axis)] = mayMove_ && state_.JogRequested(axis);
    return;
  }
  if (std::strcmp(text, "ENDJOG") == 0) {
    jogging_.fill(false);
    return;
  }
  std::array<double, 6> delta{};
  if (!bench::ParseIncrementalMove(text, &delta) || !mayMove_) return;
  const double scale = StepSize();
  for (std::size_t axis = 0; axis < kAxes; ++axis) {
    residual_[axis] += delta[axis];
    const double counts = std::round(residual_[axis] / scale);
    residual_[axis] -= counts * scale;
    out_.jogScale[axis] = scale;
    out_.jogCounts[axis] += static_cast<int32_t>(counts);
  }
}

void PendantHost::Follow(Followed& f, double value, uint64_t nowMs) {
  // halui's value pin reads 0 until halui first reports; taken as the
  // override, it would go back out as counts and set LinuxCNC's override to 0.
  if (!f.reported) {
    if (value == 0.0) return;
    f.reported = true;
  }
  if (std::fabs(value - f.lastIn) < 1e-9) return;
  f.lastIn = value;
  if (f.setOnce && nowMs - f.lastSetMs < kEchoMs) return;
  state_.dro[f.code] = value;
}

void PendantHost::Sample(const Inputs& in, uint64_t nowMs) {
  nowMs_ = nowMs;
  for (int axis = 0; axis < kAxes; ++axis) {
    const auto i = static_cast<std::size_t>(axis);
    state_.dro[static_cast<short>(code::kDroAxisPositionBase + axis)] = in.position[i];
    host::Store(state_.blockC.data(), host::offset::kAxisVelocityLimit + 4 * i,
                static_cast<int32_t>(std::lround(in.maxVelocity[i] * 60.0)));
  }
  Follow(feed_, in.feedOverride * 100.0, nowMs);
  Follow(spindle_, in.spindleOverride * 100.0, nowMs);
  state_.dro[code::kDroSpindleRpm] = in.spindleSpeed;
  state_.dro[code::kDroSpindleSpeed] = in.spindleSpeed;
  state_.dro[code::kDroFeedRate] = in.feedRate;
  state_.dro[code::kDroFeedShown] = in.feedRate;
  state_.led[code::kLedJogEnabled] = in.machineOn;
  state_.led[code::kLedRun] = in.programRunning;
  state_.led[code::kLedPause] = in.programPaused;
  state_.led[code::kLedReset] = out_.estop || in.estopActive;
  host::Store(state_.blockA.data(), host::offset::kResetIndicator,
              static_cast<uint8_t>(in.estopActive ? 1 : 0));
  // Pending motion: the queues differ while LinuxCNC is not in position.
  host::Store(state_.blockA.data(), host::offset::kMotionQueueIn,
              static_cast<int32_t>(in.inPosition ? 0 : 1));
  mayMove_ =
      in.machineOn && !in.programRunning && !in.programPaused && !in.estopActive && !out_.estop;
  if (!mayMove_) Halt();
}

const Outputs& PendantHost::Publish(int32_t jogAxis) {
  const unsigned char* a = state_.blockA.data();
  double speed = 0.0;
  for (int axis = 0; axis < kAxes; ++axis) {
    const auto i = static_cast<std::size_t>(axis);
    out_.jogEnable[i] = mayMove_ && axis == jogAxis;
    const bool on = jogging_[i] && mayMove_;
    const auto v = host::Load<int32_t>(a, host::JogRecordField(axis, host::offset::kJogSpeed));
    const bool negative =
        host::Load<int32_t>(a, host::JogRecordField(axis, host::offset::kJogDirection)) != 0;
    out_.jogPlus[i] = on && !negative;
    out_.jogMinus[i] = on && negative;
    out_.jogVelocity[i] = on ? (negative ? -v : v) : 0.0;
    if (on) speed = v;
  }
  out_.jogSpeed = speed;
  for (std::size_t i = 0; i < kZeroAxes; ++i) {
    out_.zero[i] = zeroCycles_[i] > 0;
    if (zeroCycles_[i] > 0) --zeroCycles_[i];
  }
  out_.feedCounts = static_cast<int32_t>(std::lround(state_.dro[code::kDroFeedOverride] * 10.0));
  out_.spindleCounts =
      static_cast<int32_t>(std::lround(state_.dro[code::kDroSpindleOverride] * 10.0));
  out_.jogRate = state_.dro[code::kDroJogRate];
  return out_;
}

void PendantHost::Halt() {
  // Until the next sample allows it again.
  mayMove_ = false;
  jogging_.fill(false);
  residual_.fill(0.0);
  out_.jogPlus.fill(false);
  out_.jogMinus.fill(false);
  out_.jogVelocity.fill(0.0);
  out_.jogEnable.fill(false);
  out_.jogSpeed = 0.0;
  zeroCycles_.fill(0);
}

}  // namespace km4r::hal
