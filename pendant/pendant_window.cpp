// The pendant link: discovery by vendor and product id, the report handles,
// and hot-plug through the device-change messages of the HID class.
#include "pendant/pendant_window.h"

#include <cstring>

#include "jog/jog_steps.h"
#include "plugin/host_calls.h"
#include "plugin/module_state.h"

namespace km4r {

using platform::Hid;
using platform::kInvalidHandle;

namespace {

void CloseIfValid(platform::Handle& h) {
  if (h != kInvalidHandle) Hid().Close(h);
  h = kInvalidHandle;
}

// Closing the read handle ends an outstanding read unseen.
void CloseReportHandles(PendantWindow& w) {
  CloseIfValid(w.readHandle);
  CloseIfValid(w.writeHandle);
  w.readOutstanding = false;
}

void OpenReportHandles(PendantWindow& w) {
  w.readHandle = Hid().Open(w.devicePath.c_str(), platform::OpenMode::OverlappedRead);
  w.writeHandle = Hid().Open(w.devicePath.c_str(), platform::OpenMode::SyncWrite);
  w.readOutstanding = false;
  w.readDead = false;
}

// The counter of a pendant that was away may stand anywhere; its first report
// must not be taken for a turn of the wheel, nor may the turn from before
// shape the next one.
void BeginLink(PendantWindow& w) {
  w.wheelBaselinePending = true;
  w.StartNewTurn();
}

// Asked of the open handle itself: a node the system gave to another device
// since the pendant left must not pass for the pendant.
bool IsPendantHandle(platform::Handle h) {
  platform::HidAttributes attributes;
  return h != kInvalidHandle && Hid().GetAttributes(h, &attributes) &&
         attributes.vendorId == kPendantVendorId && attributes.productId == kPendantProductId;
}

bool AnyReportHandle(const PendantWindow& w) {
  return w.readHandle != kInvalidHandle || w.writeHandle != kInvalidHandle;
}

// Searches the HID interfaces for the pendant and opens the first one found.
// The matched device's query handle stays open for the window's lifetime.
bool DiscoverPendant(PendantWindow& w) {
  auto& hid = Hid();
  // A repeated discovery (PostInitControl again) starts from nothing open.
  CloseIfValid(w.probeHandle);
  CloseReportHandles(w);
  w.hidClassGuid = hid.HidClassGuid();
  for (const std::string& path : hid.EnumerateInterfaces()) {
    w.probeHandle = hid.Open(path.c_str(), platform::OpenMode::Query);
    if (IsPendantHandle(w.probeHandle)) {
      w.devicePath = path;
      w.RegisterNotification();
      if (w.readEvent == kInvalidHandle) w.readEvent = hid.CreateReadEvent();
      OpenReportHandles(w);
      BeginLink(w);
      // A pendant that can be neither read nor written is no link at all.
      w.connected = AnyReportHandle(w) ? 1 : 0;
      return w.connected != 0;
    }
    CloseIfValid(w.probeHandle);
  }
  w.connected = 0;
  return false;
}

// The link is down: whatever the wheel started must end now, since no later
// cycle decodes a report to end it.
void LoseLink(PendantWindow& w) {
  CloseReportHandles(w);
  w.connected = 0;
  w.EndJogForGoing();
}

void EnterHandler(PendantWindow* w) {
  ModuleState& m = Module();
  if (m.handlerDepth++ == 0) m.handlingWindow = w;
}

// The outermost handler deletes its window if an entry point let go of it
// meanwhile; the caller must not touch the window after this.
void LeaveHandler() {
  ModuleState& m = Module();
  if (--m.handlerDepth > 0) return;
  m.handlingWindow = nullptr;
  PendantWindow* retired = m.retiredWindow;
  m.retiredWindow = nullptr;
  delete retired;
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

PendantWindow::~PendantWindow() {
  CloseIfValid(probeHandle);
  CloseReportHandles(*this);
  CloseIfValid(readEvent);
  if (notificationHandle != 0) Hid().UnregisterNotification(notificationHandle);
  notificationHandle = 0;
}

void PendantWindow::OnTimer(uintptr_t timerId) {
  EnterHandler(this);
  RunReportCycle(timerId);
  LeaveHandler();
}

void PendantWindow::OnParentDestroyed() {
  Shutdown();
  // The host window's message loop is going: nothing may stay registered
  // with it.
  CloseIfValid(probeHandle);
  CloseReportHandles(*this);
  connected = 0;
  if (notificationHandle != 0) Hid().UnregisterNotification(notificationHandle);
  notificationHandle = 0;
}

bool PendantWindow::MayMove() const {
  return connected != 0 && !shutDown && estopLatched == 0 && !Nested() && !host::Stopped() &&
         host::ResetIndicator(host::HostBlocks()) == 0;
}

bool PendantWindow::Nested() const {
  // The cycle's own handler is the first.
  return Module().handlerDepth > 1;
}

void PendantWindow::StartNewTurn() {
  startPending = false;
  for (double& h : speedHistory) h = 0.0;
  rateJogCount = 0;
  deltaRing[0] = deltaRing[1] = 0.0;
}

void PendantWindow::EndJogForGoing() {
  if (jogRunning || autoVelocityActive) StopJogOf(*this, jogRunning ? jogRunningAxis : axisIndex);
  autoVelocityActive = false;
  if (jogStarted || altJogPressed) ReleaseStartButton(*this);
  startPending = false;
  // Counts held back or carried are not the operator's any more.
  jogCountAccumulator = 0;
  stepCarry = 0;
}

void PendantWindow::Shutdown() {
  if (shutDown) return;
  EndJogForGoing();
  shutDown = true;
}

intptr_t PendantWindow::OnDeviceChange(uintptr_t eventType, const void* eventData) {
  EnterHandler(this);
  const intptr_t result = ProcessDeviceEvent(eventType, eventData);
  LeaveHandler();
  return result;
}

bool PendantWindow::OpenPendant() {
  const bool wasConnected = connected != 0;
  DiscoverPendant(*this);
  if (wasConnected && connected == 0) LoseLink(*this);
  // Registered even without a pendant, so that one plugged in later is found.
  RegisterNotification();
  StartTimer(kCycleTimerId, kCyclePeriodMs);
  return connected != 0;
}

void PendantWindow::RegisterNotification() {
  if (notificationHandle != 0) return;
  notificationHandle = Hid().RegisterNotification(this, hidClassGuid);
}

intptr_t PendantWindow::ProcessDeviceEvent(uintptr_t eventType, const void* eventData) {
  if (eventType == platform::kDeviceArrival) {
    // Any HID arrival counts: the pendant's own may carry the path of a
    // sibling interface, so the known path is simply tried again. A link that
    // was working throughout (another device arrived) goes on untouched.
    const bool wasUp = connected != 0 && !readDead && IsPendantHandle(readHandle);
    CloseReportHandles(*this);
    if (!devicePath.empty()) OpenReportHandles(*this);
    if (IsPendantHandle(readHandle) && IsPendantHandle(writeHandle)) {
      connected = 1;
      if (!wasUp) BeginLink(*this);
    } else {
      // Gone, or a stranger on the pendant's path: only a search by the ids
      // may connect the link again.
      CloseReportHandles(*this);
      DiscoverPendant(*this);
      if (connected == 0) LoseLink(*this);
    }
  } else if (eventType == platform::kDeviceRemoveComplete && IsPendantPath(eventData)) {
    LoseLink(*this);
  }
  // Whatever the cycle in progress decoded may no longer hold.
  if (Module().handlerDepth > 1) ++decodeSerial;
  return 1;
}

bool PendantWindow::IsPendantPath(const void* eventData) const {
  if (eventData == nullptr || devicePath.empty()) return false;
  const auto* record = static_cast<const unsigned char*>(eventData);
  uint32_t size = 0;
  uint32_t deviceType = 0;
  std::memcpy(&size, record, sizeof size);
  std::memcpy(&deviceType, record + platform::kBroadcastDeviceTypeOffset, sizeof deviceType);
  if (deviceType != platform::kDevTypeDeviceInterface) return false;
  if (size <= platform::kBroadcastNameOffset) return false;
  // The record's own size bounds the name, so a name without its NUL cannot
  // lead the comparison past the record.
  const std::size_t room = size - platform::kBroadcastNameOffset;
  const auto* name = reinterpret_cast<const char*>(record + platform::kBroadcastNameOffset);
  std::size_t i = 0;
  for (; i < room && name[i] != '\0'; ++i) {
    if (i >= devicePath.size() || AsciiLower(name[i]) != AsciiLower(devicePath[i])) return false;
  }
  return i == devicePath.size();
}

}  // namespace km4r
