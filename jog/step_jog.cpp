#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "jog/jog_internal.h"
#include "pendant/pendant_window.h"
#include "plugin/host_calls.h"

namespace km4r::jog {

namespace {

// Held counts leave in moves of at most this many.
constexpr int kReleaseChunk = 5;
constexpr double kDegreesToRadians = 0.017453293;
// "%.4f" of the largest double needs some 320 characters, and a move can
// carry two numbers: a cut text would be a different move.
constexpr std::size_t kMoveTextSize = 1024;

bool BelowMoveLimit() {
  return host::GetDRO(host::code::kDroMoveLimit) < kMoveLimit;
}

void SendReleaseMove(const PendantWindow& w, double distance) {
  char text[kMoveTextSize];
  const int rate = Module().settings.StepJogRate;
  const char* letter = host::AxisLetter(w.axisIndex);
  if (rate != 0) {
    std::snprintf(text, sizeof text, "G91G1 F%d %s %.4f", rate, letter, distance);
  } else {
    std::snprintf(text, sizeof text, "G91G1 %s %.4f", letter, distance);
  }
  SendMove(w, text);
}

// Whether a step move may go out now. The host's calls before it may have
// run nested cycles; the move is made from the state they left (the carried
// counts, the accumulator), so it needs only the step jog still on its axis
// and nothing holding motion back.
bool StepMayMove(const PendantWindow& w, int axis) {
  return w.MayMove() && w.jogMode == JogMode::StepJog && w.axisIndex == axis && !w.autoVelocityUsed;
}

// Counts leave the accumulator before the move goes out: a cycle run inside
// the host's calls neither sends them again nor loses them.
void ReleaseHeldCounts(PendantWindow& w) {
  const int axis = w.axisIndex;
  const double inc = host::StepIncrement(host::HostBlocks());
  if (std::abs(w.jogCountAccumulator) >= kReleaseChunk && BelowMoveLimit()) {
    if (!StepMayMove(w, axis) || std::abs(w.jogCountAccumulator) < kReleaseChunk) return;
    const int chunk = w.jogCountAccumulator < 0 ? -kReleaseChunk : kReleaseChunk;
    w.jogCountAccumulator -= chunk;
    SendReleaseMove(w, chunk * inc);
  }
  // A chunk that emptied the accumulator leaves nothing to send: no zero-length
  // move.
  if (w.jogCountAccumulator != 0 && std::abs(w.jogCountAccumulator) < kReleaseChunk &&
      BelowMoveLimit()) {
    if (!StepMayMove(w, axis)) return;
    const int rest = w.jogCountAccumulator;
    w.jogCountAccumulator = 0;
    SendReleaseMove(w, rest * inc);
  }
}

// The carried counts, taken for a move.
int32_t TakeCarry(PendantWindow& w) {
  const int32_t counts = w.stepCarry;
  w.stepCarry = 0;
  return counts;
}

void PlainMove(PendantWindow& w) {
  const int axis = w.axisIndex;
  const PendantSettings& settings = Module().settings;
  if (w.droRestorePending == 0) {
    w.savedDro818 = host::GetDRO(host::code::kDroFeedRate);
    w.savedDro821 = host::GetDRO(host::code::kDroFeedOverride);
    w.droRestorePending = 1;
  }
  Module().ticks.DroRestoreTicks = 3;
  if (settings.StepJogRate != 0) host::SetDRO(host::code::kDroFeedOverride, 100.0);

  const bool below = BelowMoveLimit();
  const double feed =
      below && settings.StepJogRate == 0 ? host::GetDRO(host::code::kDroFeedRate) : 0.0;
  if (!StepMayMove(w, axis)) return;
  const int32_t counts = TakeCarry(w);
  if (!below) {
    w.jogCountAccumulator = SaturatingAdd(w.jogCountAccumulator, counts);
    return;
  }
  if (counts == 0) return;
  const double distance = counts * host::StepIncrement(host::HostBlocks());
  const char* letter = host::AxisLetter(axis);
  char text[kMoveTextSize];
  if (settings.StepJogRate != 0) {
    std::snprintf(text, sizeof text, "G91G1 F%d %s %.4f", settings.StepJogRate, letter, distance);
  } else {
    std::snprintf(text, sizeof text, "G91G1 F%.4f %s %.4f", feed, letter, distance);
  }
  SendMove(w, text);
}

// X/Y moves in a rotated coordinate system carry both axes; they are never
// held, so they need neither the saved feed nor the restore timer.
void RotatedMove(PendantWindow& w, double angle) {
  const int axis = w.axisIndex;
  const bool below = BelowMoveLimit();
  if (!StepMayMove(w, axis)) return;
  const int32_t counts = TakeCarry(w);
  if (!below || counts == 0) return;
  const double theta = angle * kDegreesToRadians;
  const double u = counts * host::StepIncrement(host::HostBlocks());
  const double dx = axis == 0 ? u : 0.0;
  const double dy = axis == 1 ? u : 0.0;
  const double x = std::cos(theta) * dx - std::sin(-theta) * dy;
  const double y = std::cos(theta) * dy + std::sin(-theta) * dx;
  char text[kMoveTextSize];
  std::snprintf(text, sizeof text, "G91G1 X%.4f Y%.4f ", x, y);
  SendMove(w, text);
}

}  // namespace

void StepJogMode(PendantWindow& w, int direction, int count) {
  const int threshold = AutoChangeThreshold();
  if (threshold != 0 && (count >= threshold || w.autoVelocityActive)) {
    AutoContinuousJog(w, direction, count);
    return;
  }
  // After an automatic jog the axis is stopped on every cycle until the
  // report cycle has counted jogTickCountdown down. Its start button goes
  // with it: nothing else would release it.
  if (w.autoVelocityUsed) {
    StopAxis(w);
    ReleaseStartButton(w);
    if (w.Superseded() || w.jogTickCountdown != 0) return;
    w.autoVelocityUsed = false;
  }
  // Counts that a cycle could not send (nested, or the host's calls ran
  // nested cycles) go with the next move.
  const int axis = w.axisIndex;
  w.stepCarry = SaturatingAdd(w.stepCarry, direction == 0 ? count : -count);
  if (w.stepCarry == 0) {
    if (count == 0 && w.jogCountAccumulator != 0) ReleaseHeldCounts(w);
    return;
  }
  if (!w.MayMove()) return;
  const bool allowed = JogAllowed();
  const bool off = allowed && JogSwitchedOff();
  if (!StepMayMove(w, axis)) return;
  if (!allowed || off) {
    w.stepCarry = 0;
    if (off) SetHostStatus(kJogOffText);
    return;
  }
  const double angle = host::RotationAngle(host::HostBlocks());
  if (angle == 0.0 || axis > 1) {
    PlainMove(w);
  } else {
    RotatedMove(w, angle);
  }
}

}  // namespace km4r::jog
