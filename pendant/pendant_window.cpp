#include "pendant/pendant_window.h"

namespace km4r {

// TODO(link): release the device handles.
PendantWindow::~PendantWindow() = default;

bool PendantWindow::OpenPendant() {
  StartTimer(kCycleTimerId, kCyclePeriodMs);
  return false;
}
void PendantWindow::RegisterNotification() {}
intptr_t PendantWindow::ProcessDeviceEvent(uintptr_t, const void*) { return 1; }
bool PendantWindow::IsPendantPath(const void*) const { return false; }
void PendantWindow::RunReportCycle(uintptr_t) {}
void PendantWindow::DecodeInput() {}

}  // namespace km4r
