// The host's window object on Windows (what HostBlockD points at). The host
// and the plug-in share only this layout:
//
//   offset 0: HWND of the host's top-level window (pointer-sized)
//
// Nothing else is read from the object, and the plug-in never writes to it.
// The plug-in's window is a child of that HWND only when it is a live window
// of the thread that calls the entry points (its timers live on that thread's
// message queue). Any other object (one laid out another way, say with a
// virtual table first) gets a message-only window of the plug-in's own, so
// the cycle timer and the device notifications run all the same.
#pragma once

#include <windows.h>

#include <cstddef>

namespace km4r::platform {

class HostWindow {
 public:
  HWND hwnd = nullptr;
};

static_assert(offsetof(HostWindow, hwnd) == 0);
static_assert(sizeof(HostWindow) == sizeof(void*));

namespace win32 {

// The HWND the host's window object yields: a live window of the calling
// thread, or nullptr.
HWND HostHwnd(const HostWindow* window);

// Window class of the plug-in's child windows (registered once per module).
const char* ChildWindowClassName();

// Timers currently running on the child windows of `parent` that belong to
// this module (the timer ids each ChildWindow has started and not lost).
std::size_t CountChildTimers(HWND parent);

}  // namespace win32
}  // namespace km4r::platform
