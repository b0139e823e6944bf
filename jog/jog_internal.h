// Working parts of the jog engine, shared by its mode files only.
#pragma once

#include <cstdint>

#include "jog/jog_steps.h"

namespace km4r {

class PendantWindow;
enum class JogMode : int32_t;

namespace jog {

inline constexpr const char* kJogOffText = " Jog OFF. ";
// Moves are held or dropped while host DRO 22 is at or above this.
inline constexpr double kMoveLimit = 20.0;
// Host Update calls to wait after a reversal before jogging again.
inline constexpr int kReversalPauseTicks = 3;
// Cycles without a host Update call after which the plug-in's own cycles end
// the reversal pause and let an idle wheel count as idle.
inline constexpr int32_t kOwnCycleFallback = 8;

// Letter of an axis index 0..5 ("X" .. "C"); "" for anything else.
bool IsValidAxis(int axis);

// Count per report at which step jogging turns into a continuous jog (0: never).
int AutoChangeThreshold();
// Divisor of the velocity smoothing.
int VelocityDivisor();

// Code(text) unless a selector change is still settling, then "G90" when the
// host is to be put back into absolute mode.
void SendMove(const PendantWindow& w, const char* text);
// False while the host runs or pauses a program without the override lit.
bool JogAllowed();
// LED 83 off: the host refuses to jog.
bool JogSwitchedOff();
// Fills the jog record and sends "DOJOG"; presses 204 at a jog's first start
// when the host's alternate-jog indicator is lit.
void StartOrContinueJog(PendantWindow& w, int direction, double speed);
// WheelActiveTicks running; the pause after a reversal over (three Update
// calls). Where Update calls do not come, the engine's own cycles run both
// counters out (RunJogEngine).
bool WheelActive();
bool ReversalPauseOver();
// The stopped-wheel test: stores count in the ring; true (after stopping the
// axis) when neither this call nor the previous one brought counts. A call
// without counts is a still wheel even when it ends before the test
// (NoteStillWheel, at the start of every continuous call): old counts must
// not start a jog after a pause, a refusal or a reversal.
void NoteStillWheel(PendantWindow& w, int count);
bool WheelStopped(PendantWindow& w, int count);
// Double to int32 truncated toward zero, saturating; NaN gives 0.
int32_t TruncateToInt32(double v);
// a + b kept within -INT32_MAX .. INT32_MAX.
int32_t SaturatingAdd(int32_t a, int64_t b);

void StepJogMode(PendantWindow& w, int direction, int count);
void AutoContinuousJog(PendantWindow& w, int direction, int count);
void VelocityJogMode(PendantWindow& w, int direction, int count);
void RateJogMode(PendantWindow& w, int direction, int count);
void AdjustValue(JogMode jogMode, int direction, int count);
void StepSizeSelectMode(PendantWindow& w, int direction, int count);
void AxisZeroMode(PendantWindow& w, int count);
void ScreenSelectMode(PendantWindow& w, int direction);

}  // namespace jog
}  // namespace km4r
