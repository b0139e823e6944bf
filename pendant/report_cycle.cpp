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

enum class Read { Fresh, None, Dead, Malformed };

// One read of the input report into inputReport, waiting at most the read
// bound. Dead: the pendant cannot be read (gone without its removal message,
// or its handle could not be opened). Malformed: a report came that is not
// the pendant's (wrong length or report id); inputReport may hold it.
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
      case platform::ReadStart::Malformed:
        return Read::Malformed;
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
      case platform::WaitResult::Malformed:
        w.readOutstanding = false;
        return Read::Malformed;
    }
  }
  // The pendant sends one report, id 0.
  if (fresh) return w.inputReport[0] == 0 ? Read::Fresh : Read::Malformed;
  return failed ? Read::Dead : Read::None;
}

}  // namespace

void PendantWindow::RunReportCycle(uintptr_t /*timerId*/) {
  if (jogTickCountdown != 0) --jogTickCountdown;
  if (displayCycle == 0) displayCycle = 160;
  --displayCycle;
  if (WheelSpeedByte(inputWord0) != 0) displayCycle = 159;
  if (connected == 0 || shutDown || Module().retiredWindow == this) return;

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
  const Read read = ReadReport(*this);
  // Whatever the wheel started ends with the first failed read.
  if (read == Read::Dead) EndJogForGoing();
  readDead = read == Read::Dead;
  if (read == Read::Malformed) ++Module().decodeErrors;
  if (read != Read::Fresh) {
    // A pendant that cannot be read is a still wheel, not its last report;
    // one that sent garbage keeps the report in effect.
    PutReportWord(inputReport, 0, readDead ? savedWord0 & ~kWheelSpeedMask : savedWord0);
    PutReportWord(inputReport, 4, savedWord1);
  } else if (wheelBaselinePending) {
    lastWheelCount = inputReport[1];
    wheelBaselinePending = false;
  }

  // A cycle run inside a host callback decodes as any other; the one it
  // interrupts sees it as superseded when the callback returns.
  const uint32_t interrupted = cycleSerial;
  cycleSerial = ++decodeSerial;
  // StopPlug from inside a callback: nothing more goes to the host or the
  // pendant.
  const auto retired = [this] { return Module().retiredWindow == this; };
  DecodeInput();
  if (!retired()) ComposeDisplay();
  // What a nested cycle left to start, now that the host's calls are done.
  if (!retired()) StartPendingJog(*this);
  cycleSerial = interrupted;
  if (retired()) return;

  if (writeHandle != kInvalidHandle) Hid().Write(writeHandle, outputReport, kOutputReportSize);
}

}  // namespace km4r
