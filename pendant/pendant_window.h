// PendantWindow: the hidden child window that owns the pendant link and all
// pendant-side state. Its fields are plain data shared by the link (pendant/),
// the jog engine (jog/) and the display (display/); each of those folders
// implements its own member operations.
#pragma once

#include <cstdint>
#include <string>

#include "platform/hid_device.h"
#include "platform/window.h"

namespace km4r {

inline constexpr uint16_t kPendantVendorId = 0x04D8;
inline constexpr uint16_t kPendantProductId = 0xFCE7;
inline constexpr uint32_t kCycleTimerId = 1;
inline constexpr uint32_t kCyclePeriodMs = 25;
inline constexpr uint32_t kReadWaitMs = 5;
inline constexpr std::size_t kInputReportSize = 8;
inline constexpr std::size_t kOutputReportSize = 21;

// What the wheel does, as the selectors set it.
enum class JogMode : int32_t {
  Idle = 1,
  VelocityJog = 2,
  RateJog = 3,
  JogRateAdjust = 4,
  FeedOverrideAdjust = 5,
  SpindleOverrideAdjust = 6,
  StepJog = 10,
  StepSizeSelect = 11,
  AxisZero = 12,
  ScreenSelect = 13,
};

class PendantWindow : public platform::ChildWindow {
 public:
  PendantWindow() = default;
  // Releases every device handle and the notification registration; the base
  // class then destroys the window, which ends the timer.
  ~PendantWindow() override;

  // Link (pendant/).
  bool OpenPendant();
  void RegisterNotification();
  intptr_t ProcessDeviceEvent(uintptr_t eventType, const void* eventData);
  bool IsPendantPath(const void* eventData) const;
  // Also runs for a timer message that arrives while a handler of the
  // plug-in runs (a host callback pumping messages): the same cycle, nested.
  void RunReportCycle(uintptr_t timerId);
  void DecodeInput();
  // Step 2 of the decode: the pendant's E-stop switch to host button 1021.
  void HandleEstop(uint32_t word0);
  // Whether motion may start now: the link is up, the pendant's E-stop
  // released, the host neither stopped nor in reset, the plug-in not
  // stopping, and the cycle not nested. Step moves, made from carried
  // counts, ask only this.
  bool MayMove() const;
  // MayMove, and the cycle's decode is still the newest: what a DOJOG or a
  // 204 is decided from.
  bool MayStartMotion() const { return MayMove() && !Superseded(); }
  // The cycle runs inside a host callback made by another cycle or handler:
  // what it would start is left to the next outermost cycle.
  bool Nested() const;
  // A newer report was decoded, or the link changed, since this cycle's
  // decode began: its own decisions no longer stand.
  bool Superseded() const { return cycleSerial != decodeSerial; }
  // The operator's next turn owes nothing to the last one: smoothing, rate
  // count and the stopped-wheel ring start empty, and no jog is pending.
  void StartNewTurn();
  // Ends a running jog and releases the start button: the link, the plug-in
  // or its window is going.
  void EndJogForGoing();
  // StopPlug, or the host destroying its window: the jog ends and nothing
  // starts any more.
  void Shutdown();
  // Jog and control engine (jog/).
  void RunJogEngine(int direction, int count);
  // Display (display/).
  void ComposeDisplay();

  // --- Connection ---
  platform::Guid hidClassGuid{};
  std::string devicePath;
  platform::Handle probeHandle = platform::kInvalidHandle;
  platform::Handle readHandle = platform::kInvalidHandle;
  platform::Handle writeHandle = platform::kInvalidHandle;
  platform::Handle readEvent = platform::kInvalidHandle;
  bool readOutstanding = false;
  uintptr_t notificationHandle = 0;
  uint8_t connected = 0;
  bool shutDown = false;
  // The next report read only sets the handwheel baseline (see DecodeInput).
  bool wheelBaselinePending = true;

  // --- Report exchange ---
  uint8_t inputReport[kInputReportSize] = {};
  uint32_t savedWord0 = 0;
  uint32_t savedWord1 = 0;
  uint32_t inputWord0 = 0;
  uint32_t inputWord1 = 0;
  uint8_t outputReport[kOutputReportSize] = {};
  int32_t displayCycle = 0;
  int32_t jogTickCountdown = 0;
  uint8_t restoreAbsolute = 1;
  // Bumped by every decode and link event; cycleSerial is the innermost
  // running cycle's.
  uint32_t decodeSerial = 0;
  uint32_t cycleSerial = 0;
  // The last read failed: the pendant cannot be read.
  bool readDead = false;
  // Cycles since the speed byte was last non-zero, and since the host last
  // called Update (both saturate).
  int32_t wheelIdleCycles = 0;
  int32_t cyclesWithoutUpdate = 0;
  int16_t lastUpdateSequence = 0;

  // --- Decoded pendant state ---
  int32_t mode1Active = 0;
  int32_t mode2Active = 0;
  int32_t mode3Active = 0;
  int32_t axisSelector = 0;
  int32_t stepSelector = 0;
  int32_t prevAxisSelector = 1;
  JogMode jogMode = JogMode::Idle;
  // Zero, no mode, until the first decode.
  JogMode prevJogMode{};
  int32_t axisIndex = 0;
  int32_t enableHeld = 0;
  int32_t estopLatched = 0;
  int32_t wheelSpeed = 0;
  uint8_t wheelTurning = 0;
  uint8_t wheelWasTurning = 0;
  int32_t screenSlot = 1;
  int32_t screenCode1 = 1;
  int32_t screenCode2 = 1;
  int32_t screenCode3 = 1;
  int32_t lastWheelCount = 0;
  int32_t wheelSteps = 0;
  int32_t wheelDirection = 0;
  double savedDro818 = 0.0;
  double savedDro821 = 0.0;
  uint8_t droRestorePending = 0;
  int32_t jogCountAccumulator = 0;

  // --- Jog engine ---
  bool autoVelocityUsed = false;
  bool autoVelocityActive = false;
  bool jogStarted = false;
  // "DOJOG" went out and no "ENDJOG" since: the host is still jogging.
  bool jogRunning = false;
  // jogMode, axisIndex and direction of the jog last started.
  JogMode jogRunningMode{};
  int32_t jogRunningAxis = 0;
  int32_t jogRunningDirection = 0;
  int32_t jogRunningSpeed = 0;
  // The newest decode, in a nested cycle, would have started or refreshed a
  // jog with these.
  bool startPending = false;
  int32_t pendingDirection = 0;
  double pendingSpeed = 0.0;
  // Signed step counts turned and not yet commanded: a nested or superseded
  // cycle leaves them to the next outermost one.
  int32_t stepCarry = 0;
  // Cycles since the last reversal; the pause ends after a few host Update
  // calls, or after a bounded number of cycles for a host that calls it
  // rarely.
  int32_t reversalPauseCycles = 1000;
  bool altJogPressed = false;
  int32_t lastJogDirection = 0;
  double deltaRing[2] = {};
  int32_t deltaRingIndex = 0;
  double speedHistory[10] = {};
  double velocityFraction = 0.0;
  int32_t rateJogCount = 0;
  int32_t stepSizeSlot = 1;
  double stepSizeValue1 = 0.001;
  double stepSizeValue2 = 0.001;
  double stepSizeValue3 = 0.001;

 protected:
  // Both may delete the window on return (see ReleaseWindow).
  void OnTimer(uintptr_t timerId) override;
  intptr_t OnDeviceChange(uintptr_t eventType, const void* eventData) override;
  void OnParentDestroyed() override;
};

}  // namespace km4r
