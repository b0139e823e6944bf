// The 25 ms exchange: one input report in (waited for briefly), decoded,
// the display composed and one output report out.
#include "jog/jog_steps.h"
#include "pendant/input_words.h"
#include "pendant/pendant_window.h"
#include "plugin/host_calls.h"

namespace km4r {

using platform::Hid;
using platform::kInvalidHandle;

namespace {

enum class Read { Fresh, None, Dead };

// One read of the input report into inputReport, waiting at most the read
// bound. Dead: the pendant cannot be read (gone without its removal message,
// or its handle could not be opened).
Read ReadReport(PendantWindow& w) {
  auto& hid = Hid();
  bool fresh = false;
  bool failed = w.readHandle == kInvalidHandle;
  if (w.readHandle != kInvalidHandle && !w.readOutstanding) {
    switch (hid.StartRead(w.readHandle, w.readEvent, w.inputReport, kInputReportSize)) {
      case platform::ReadStart::Completed:
        fresh = true;
        break;
      case platform::ReadStart::Pending:
        w.readOutstanding = true;
        break;
      case platform::ReadStart::Failed:
        failed = true;
        break;
    }
  }
  if (!fresh && w.readOutstanding) {
    switch (hid.WaitRead(w.readHandle, w.readEvent, kReadWaitMs, w.inputReport, kInputReportSize)) {
      case platform::WaitResult::Completed:
        fresh = true;
        w.readOutstanding = false;
        break;
      case platform::WaitResult::Timeout:
        break;  // still outstanding; waited for again next cycle
      case platform::WaitResult::Failed:
        w.readOutstanding = false;
        failed = true;
        break;
    }
  }
  if (fresh) {
    w.lastReadCount = w.inputReport[1];
    return Read::Fresh;
  }
  return failed ? Read::Dead : Read::None;
}

// The report in effect is all that is known of a pendant that cannot be read:
// no motion may start or go on from it.
void InputDead(PendantWindow& w) {
  w.reportStale = true;
  w.EndJogForGoing();
}

}  // namespace

void PendantWindow::RunReportCycle(uintptr_t /*timerId*/) {
  if (jogTickCountdown != 0) --jogTickCountdown;
  if (displayCycle == 0) displayCycle = 160;
  --displayCycle;
  if (WheelSpeedByte(inputWord0) != 0) displayCycle = 159;
  reportStale = false;
  if (connected == 0) return;

  // Absolute mode is only trusted while the host is idle: mid-program the
  // distance mode reflects the running code, not the operator's choice.
  const host::Blocks& b = host::HostBlocks();
  if (host::BusyIndicator(b) == 0 && host::BufferQueueOut(b) == host::BufferQueueIn(b) &&
      host::MotionQueueOut(b) == host::MotionQueueIn(b)) {
    restoreAbsolute = host::DistanceMode(b) == 0 ? 1 : 0;
  }

  savedWord0 = ReportWord(inputReport, 0);
  savedWord1 = ReportWord(inputReport, 4);

  // The backend writes inputReport only when a read completes, so the
  // decoder never sees a report half written. A report a nested cycle read
  // is decoded here unless a newer one has come.
  // What the nested cycles saw in between (a stop, the switch, the E-stop)
  // is not in the one report they leave: it starts nothing, and the counts
  // from before the stop are not the wheel's now.
  if (nestedReportPending && nestedStopSeen) {
    reportStale = true;
    wheelBaselinePending = true;
  }
  nestedStopSeen = false;
  const Read read = ReadReport(*this);
  const bool fresh = read == Read::Fresh || nestedReportPending;
  nestedReportPending = false;
  if (read == Read::Dead) InputDead(*this);
  if (!fresh) {
    PutReportWord(inputReport, 0, savedWord0);
    PutReportWord(inputReport, 4, savedWord1);
  } else if (wheelBaselinePending) {
    lastWheelCount = inputReport[1];
    wheelBaselinePending = false;
  }

  DecodeInput();
  // StopPlug from inside a callback: nothing more goes to the host or the
  // pendant.
  if (Module().retiredWindow == this) return;
  ComposeDisplay();
  if (Module().retiredWindow == this) return;

  if (writeHandle != kInvalidHandle) Hid().Write(writeHandle, outputReport, kOutputReportSize);
}

void PendantWindow::RunNestedCycle() {
  if (connected == 0 || shutDown || Module().retiredWindow == this) return;
  const int previousCount = lastReadCount;
  const Read read = ReadReport(*this);
  if (read == Read::Dead) InputDead(*this);
  if (read != Read::Fresh) return;
  // The cycle that called the host works on an older report from here on.
  nestedReportPending = true;
  reportStale = true;
  const uint32_t word0 = ReportWord(inputReport, 0);
  const uint32_t word1 = ReportWord(inputReport, 4);
  HandleEstop(word0);
  // Only a report that plainly keeps the wheel turning in the same position
  // lets a jog run on.
  const int mode = ModeField(word0);
  const int activeMode = mode1Active != 0 ? 1 : mode2Active != 0 ? 2 : mode3Active != 0 ? 3 : 0;
  const bool keeps = EstopBit(word0) == 0 && EnableBit(word0) == 0 && !wheelBaselinePending &&
                     WheelSpeedByte(word0) != 0 && WheelCountByte(word0) != previousCount &&
                     AxisSelectorBits(word0) == AxisSelectorBits(inputWord0) &&
                     StepSelectorBits(word1) == StepSelectorBits(inputWord1) &&
                     (mode == 0 || mode == activeMode) && jogMode == jogRunningMode &&
                     axisIndex == jogRunningAxis && host::ResetIndicator(host::HostBlocks()) == 0;
  if (keeps) {
    // A 205 owed by a jog that has ended is paid now, not when the host's
    // callback returns.
    if (!jogRunning && !jogStarting && (jogStarted || altJogPressed)) ReleaseStartButton(*this);
    return;
  }
  nestedStopSeen = true;
  if (jogRunning || jogStarted || altJogPressed || autoVelocityActive) EndJogForGoing();
}

}  // namespace km4r
