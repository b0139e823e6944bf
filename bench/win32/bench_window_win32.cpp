#include <objbase.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "bench/bench_window.h"
#include "bench/system.h"
#include "platform/win32/host_window.h"

namespace km4r::bench {

namespace {

constexpr char kHostClass[] = "Km4rBenchHost";
// The plug-in's child window has this control id, its cycle timer this id.
constexpr int kChildId = 1;
constexpr UINT_PTR kCycleTimerId = 1;

// The window whose dialogs are being cancelled (one per thread, as hooks are).
thread_local HWND t_cancelHost = nullptr;

// A dialog (class #32770) created during Config is cancelled as soon as it
// exists, as if its Cancel button were pressed: the command is posted before
// the dialog's modal loop reads its first message, and posted messages come
// before any timer message.
LRESULT CALLBACK CancelDialogs(int code, WPARAM wp, LPARAM lp) {
  if (code == HCBT_CREATEWND) {
    HWND window = reinterpret_cast<HWND>(wp);
    char name[16] = {};
    if (GetClassNameA(window, name, sizeof name) > 0 && std::strcmp(name, "#32770") == 0)
      PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

// The dialog's modal loop would also dispatch the real timer of the plug-in's
// child window; its cycles belong to virtual time, so such a message is
// turned into WM_NULL.
LRESULT CALLBACK MuteChildTimers(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION && wp == PM_REMOVE) {
    auto* msg = reinterpret_cast<MSG*>(lp);
    if (msg->message == WM_TIMER && msg->hwnd != nullptr && t_cancelHost != nullptr &&
        IsChild(t_cancelHost, msg->hwnd))
      msg->message = WM_NULL;
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

bool RegisterHostClass() {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExA(GetModuleHandleA(nullptr), kHostClass, &wc)) return true;
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kHostClass;
  return RegisterClassExA(&wc) != 0;
}

}  // namespace

struct BenchWindow::Impl {
  explicit Impl(platform::Clock& c) : clock(c) {}
  platform::Clock& clock;
  platform::HostWindow host;
  bool comStarted = false;
  std::string createError;
};

BenchWindow::BenchWindow(platform::Clock& clock) : impl_(std::make_unique<Impl>(clock)) {
  // A host initialises COM on its UI thread before it calls the plug-in.
  impl_->comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  if (!RegisterHostClass()) {
    impl_->createError = "cannot register the host window class: " + sys::ErrorText(GetLastError());
    return;
  }
  // Never shown: the plug-in needs a parent for its child window only.
  impl_->host.hwnd = CreateWindowExA(0, kHostClass, "pendant-bench", WS_OVERLAPPEDWINDOW,
                                     CW_USEDEFAULT, CW_USEDEFAULT, 200, 100, nullptr, nullptr,
                                     GetModuleHandleA(nullptr), nullptr);
  if (impl_->host.hwnd == nullptr)
    impl_->createError = "cannot create the host window (is there a usable display?): " +
                         sys::ErrorText(GetLastError());
}

std::string BenchWindow::Problem(bool pluginStarted) const {
  if (impl_->host.hwnd == nullptr)
    return impl_->createError.empty() ? "no host window" : impl_->createError;
  if (pluginStarted && GetDlgItem(impl_->host.hwnd, kChildId) == nullptr)
    return "the plug-in created no window on the host window, so its 25 ms cycle cannot run";
  return "";
}

BenchWindow::~BenchWindow() {
  if (impl_->host.hwnd != nullptr) DestroyWindow(impl_->host.hwnd);
  if (impl_->comStarted) CoUninitialize();
}

platform::HostWindow* BenchWindow::Host() {
  return &impl_->host;
}

void BenchWindow::Advance(uint32_t ms) {
  if (auto* virtualClock = dynamic_cast<platform::VirtualClock*>(&impl_->clock))
    virtualClock->Advance(ms);
  if (impl_->host.hwnd == nullptr) return;
  // The child exists from InitControl to StopPlug, and its timer from
  // PostInitControl on; the bench always makes both calls together.
  HWND child = GetDlgItem(impl_->host.hwnd, kChildId);
  if (child != nullptr) SendMessageA(child, WM_TIMER, kCycleTimerId, 0);
}

void BenchWindow::Wait(int ms) {
  MsgWaitForMultipleObjectsEx(0, nullptr, ms > 0 ? static_cast<DWORD>(ms) : 0, QS_ALLINPUT,
                              MWMO_INPUTAVAILABLE);
  // Sent messages (the plug-in's device notifications) are handled inside
  // PeekMessage; the plug-in's real timer is dropped, since its cycles are
  // the bench's (Advance).
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_TIMER && msg.hwnd != nullptr && impl_->host.hwnd != nullptr &&
        IsChild(impl_->host.hwnd, msg.hwnd))
      continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void BenchWindow::RunWithDialogCancelled(const std::function<void()>& config) {
  const DWORD thread = GetCurrentThreadId();
  HHOOK cbt = SetWindowsHookExA(WH_CBT, &CancelDialogs, nullptr, thread);
  HHOOK getMessage = SetWindowsHookExA(WH_GETMESSAGE, &MuteChildTimers, nullptr, thread);
  HWND previous = t_cancelHost;
  t_cancelHost = impl_->host.hwnd;
  config();
  t_cancelHost = previous;
  if (getMessage != nullptr) UnhookWindowsHookEx(getMessage);
  if (cbt != nullptr) UnhookWindowsHookEx(cbt);
}

}  // namespace km4r::bench
