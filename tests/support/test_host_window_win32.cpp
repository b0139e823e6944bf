// The test host window on Windows: a real hidden top-level window on the
// test's thread. Advance pumps that thread's messages for the given real time,
// so the plug-in's timers run exactly as inside the host.
#include <windows.h>

#include <cstdint>

#include "bench/host/clock_win32.h"
#include "platform/win32/host_window.h"
#include "tests/support/test_host_window.h"

namespace km4r::test {

namespace {

constexpr char kClassName[] = "Km4rTestHostWindow";

HINSTANCE ExeInstance() {
  return GetModuleHandleA(nullptr);
}

bool RegisterHostClass() {
  static const bool registered = [] {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &DefWindowProcA;
    wc.hInstance = ExeInstance();
    wc.lpszClassName = kClassName;
    return RegisterClassExA(&wc) != 0;
  }();
  return registered;
}

BOOL CALLBACK CountOne(HWND, LPARAM count) {
  ++*reinterpret_cast<std::size_t*>(count);
  return TRUE;
}

}  // namespace

struct TestHostWindow::Impl {
  platform::HostWindow host;
  uint64_t timerMessages = 0;

  void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_TIMER) ++timerMessages;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
};

TestHostWindow::TestHostWindow() : impl_(std::make_unique<Impl>()) {
  if (RegisterHostClass())
    impl_->host.hwnd = CreateWindowExA(0, kClassName, "test host", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                       100, nullptr, nullptr, ExeInstance(), nullptr);
}

TestHostWindow::~TestHostWindow() {
  if (impl_->host.hwnd != nullptr) DestroyWindow(impl_->host.hwnd);
  impl_->Pump();
}

void* TestHostWindow::Handle() {
  return &impl_->host;
}

void TestHostWindow::Advance(uint32_t ms) {
  AwaitTimerMessages(UINT64_MAX, ms);
}

double TestHostWindow::AwaitTimerMessages(uint64_t total, uint32_t capMs) {
  const double start = sim::NowMs();
  const double deadline = start + capMs;
  for (;;) {
    impl_->Pump();
    const double left = deadline - sim::NowMs();
    if (impl_->timerMessages >= total || left <= 0) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
  }
  return sim::NowMs() - start;
}

uint64_t TestHostWindow::TimerMessages() const {
  return impl_->timerMessages;
}

std::size_t TestHostWindow::ChildCount() const {
  std::size_t n = 0;
  if (impl_->host.hwnd == nullptr) return 0;
  EnumChildWindows(impl_->host.hwnd, &CountOne, reinterpret_cast<LPARAM>(&n));
  return n;
}

std::size_t TestHostWindow::TimerCount() const {
  return impl_->host.hwnd != nullptr ? platform::win32::CountChildTimers(impl_->host.hwnd) : 0;
}

}  // namespace km4r::test
