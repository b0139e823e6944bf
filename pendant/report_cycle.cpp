// The 25 ms exchange: one input report in (waited for briefly), decoded,
// the display composed and one output report out.
#include "pendant/input_words.h"
#include "pendant/pendant_window.h"
#include "plugin/host_calls.h"

namespace km4r {

using platform::Hid;
using platform::kInvalidHandle;

void PendantWindow::RunReportCycle(uintptr_t /*timerId*/) {
  if (jogTickCountdown != 0) --jogTickCountdown;
  if (displayCycle == 0) displayCycle = 160;
  --displayCycle;
  if (WheelSpeedByte(inputWord0) != 0) displayCycle = 159;
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
  // decoder never sees a report half written.
  auto& hid = Hid();
  bool fresh = false;
  if (readHandle != kInvalidHandle && !readOutstanding) {
    switch (hid.StartRead(readHandle, readEvent, inputReport, kInputReportSize)) {
      case platform::ReadStart::Completed:
        fresh = true;
        break;
      case platform::ReadStart::Pending:
        readOutstanding = true;
        break;
      case platform::ReadStart::Failed:
        break;
    }
  }
  if (!fresh && readOutstanding) {
    switch (hid.WaitRead(readHandle, readEvent, kReadWaitMs, inputReport, kInputReportSize)) {
      case platform::WaitResult::Completed:
        fresh = true;
        readOutstanding = false;
        break;
      case platform::WaitResult::Timeout:
        break;  // still outstanding; waited for again next cycle
      case platform::WaitResult::Failed:
        readOutstanding = false;
        break;
    }
  }
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

  if (writeHandle != kInvalidHandle) hid.Write(writeHandle, outputReport, kOutputReportSize);
}

}  // namespace km4r
