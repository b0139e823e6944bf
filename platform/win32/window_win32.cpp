// ChildWindow on Windows: a real child HWND of the host's window, of a window
// class of our own whose procedure hands WM_TIMER and WM_DEVICECHANGE to
// ChildWindow::Dispatch and everything else to the default processing.
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "platform/win32/framework_process.h"
#include "platform/win32/host_window.h"
#include "platform/win32/module_handle.h"
#include "platform/window.h"

namespace km4r::platform {

namespace {

constexpr char kClassName[] = "Km4rPendantChild";
ATOM g_classAtom = 0;

// Extra window bytes of the class: the number of timers the window runs, so
// that CountChildTimers can answer from the HWND alone.
constexpr int kTimerCountSlot = 0;

std::size_t TimersOf(HWND hwnd) {
  char name[sizeof kClassName + 1] = {};
  if (GetClassNameA(hwnd, name, sizeof name) == 0 || lstrcmpA(name, kClassName) != 0) return 0;
  if (reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(hwnd, GWLP_HINSTANCE)) != win32::ThisModule())
    return 0;
  return static_cast<std::size_t>(GetWindowLongPtrA(hwnd, kTimerCountSlot));
}

BOOL CALLBACK AddTimersOf(HWND child, LPARAM sum) {
  *reinterpret_cast<std::size_t*>(sum) += TimersOf(child);
  return TRUE;
}

}  // namespace

struct ChildWindow::Impl {
  static constexpr std::size_t kMaxTimers = 8;

  HWND hwnd = nullptr;
  HostWindow* parent = nullptr;
  UINT_PTR timers[kMaxTimers] = {};
  std::size_t timerCount = 0;

  static ChildWindow* Owner(HWND hwnd) {
    return reinterpret_cast<ChildWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
      const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lp);
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    ChildWindow* self = Owner(hwnd);
    if (self != nullptr) {
      switch (msg) {
        case WM_TIMER:
        case WM_DEVICECHANGE:
          return self->Dispatch(msg, wp, lp);
        case WM_NCDESTROY:
          // Destroyed from outside (the host window went first): the owner
          // hears of it, and the handle is forgotten so the destructor does
          // not touch it again.
          self->ParentDestroyed();
          break;
        default:
          break;
      }
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
  }

  static bool RegisterClassOnce() {
    if (g_classAtom != 0) return true;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Proc;
    wc.cbWndExtra = sizeof(LONG_PTR);
    wc.hInstance = win32::ThisModule();
    wc.lpszClassName = kClassName;
    g_classAtom = RegisterClassExA(&wc);
    return g_classAtom != 0;
  }
};

ChildWindow::ChildWindow() : impl_(new Impl) {}

ChildWindow::~ChildWindow() {
  if (impl_->hwnd != nullptr) {
    // No message may reach the half-destroyed object any more.
    SetWindowLongPtrA(impl_->hwnd, GWLP_USERDATA, 0);
    DestroyWindow(impl_->hwnd);
  }
  delete impl_;
}

bool ChildWindow::Create(HostWindow* parent, int left, int top, int right, int bottom, int id) {
  if (impl_->hwnd != nullptr) return false;
  if (!Impl::RegisterClassOnce()) return false;
  HWND host = win32::HostHwnd(parent);
  // Without a usable host window the timer and the device notifications still
  // need a window on this thread: a message-only one of our own.
  HWND hwnd = host != nullptr ? CreateWindowExA(0, kClassName, "", WS_CHILD, left, top,
                                                right - left, bottom - top, host,
                                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                                win32::ThisModule(), this)
                              : CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                                nullptr, win32::ThisModule(), this);
  if (hwnd == nullptr) return false;
  impl_->hwnd = hwnd;
  impl_->parent = host != nullptr ? parent : nullptr;
  return true;
}

bool ChildWindow::IsCreated() const {
  return impl_->hwnd != nullptr;
}

bool ChildWindow::StartTimer(uint32_t id, uint32_t periodMs) {
  if (impl_->hwnd == nullptr) return false;
  if (SetTimer(impl_->hwnd, id, periodMs, nullptr) == 0) return false;
  for (std::size_t i = 0; i < impl_->timerCount; ++i)
    if (impl_->timers[i] == id) return true;  // restarted, not a new timer
  if (impl_->timerCount < Impl::kMaxTimers) impl_->timers[impl_->timerCount++] = id;
  SetWindowLongPtrA(impl_->hwnd, kTimerCountSlot, static_cast<LONG_PTR>(impl_->timerCount));
  return true;
}

void* ChildWindow::NativeHandle() const {
  return impl_->hwnd;
}

void ChildWindow::ParentDestroyed() {
  if (impl_->hwnd != nullptr) SetWindowLongPtrA(impl_->hwnd, GWLP_USERDATA, 0);
  impl_->hwnd = nullptr;
  impl_->timerCount = 0;
  OnParentDestroyed();
}

HostWindow* ChildWindow::Parent() const {
  return impl_->hwnd != nullptr ? impl_->parent : nullptr;
}

namespace win32 {

namespace {

// A live window of the calling thread in the object's slot at `offset`, read
// only where the object's memory is readable.
HWND WindowAt(const HostWindow* window, std::size_t offset) {
  const unsigned char* at = reinterpret_cast<const unsigned char*>(window) + offset;
  HWND hwnd = nullptr;
  if (!Readable(at, sizeof hwnd)) return nullptr;
  std::memcpy(&hwnd, at, sizeof hwnd);
  if (hwnd == nullptr || !IsWindow(hwnd) ||
      GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId())
    return nullptr;
  return hwnd;
}

// A top-level window no other window owns: what a thread has as its main
// window.
bool IsMainWindow(HWND hwnd) {
  return GetAncestor(hwnd, GA_ROOTOWNER) == hwnd;
}

}  // namespace

HWND HostHwnd(const HostWindow* window) {
  if (window == nullptr) return nullptr;
  // A host on a framework DLL has m_pModuleState, so m_hWnd is at the first
  // place, and the second holds that pointer.
  if (Framework().dll) return WindowAt(window, kWindowHandleOffsets[0]);
  // Linked statically: m_hWnd is at the first place (newer) or at the second,
  // with m_hWndOwner at the first (older).
  const HWND first = WindowAt(window, kWindowHandleOffsets[0]);
  const HWND second = WindowAt(window, kWindowHandleOffsets[1]);
  if (first == nullptr || second == nullptr) return first != nullptr ? first : second;
  // Both hold windows: the thread's main window, if one of them is.
  const bool firstMain = IsMainWindow(first);
  if (firstMain != IsMainWindow(second)) return firstMain ? first : second;
  // Still two: only the older layout has a window in both places.
  return second;
}

const char* ChildWindowClassName() {
  return kClassName;
}

std::size_t CountChildTimers(HWND parent) {
  std::size_t total = 0;
  EnumChildWindows(parent, &AddTimersOf, reinterpret_cast<LPARAM>(&total));
  return total;
}

void UnregisterChildWindowClass() {
  if (g_classAtom == 0) return;
  if (UnregisterClassA(kClassName, ThisModule())) g_classAtom = 0;
}

}  // namespace win32
}  // namespace km4r::platform
