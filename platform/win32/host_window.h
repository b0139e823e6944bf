// The host's window object on Windows (what HostBlockD points at). The host
// and the plug-in share only this layout:
//
//   offset 0: HWND of the host's top-level window (pointer-sized)
//
// Nothing else is read from the object, and the plug-in never writes to it.
// The HWND must belong to the thread that calls the entry points: the plug-in's
// child window and its timers live on that thread's message queue.
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

// Window class of the plug-in's child windows (registered once per module).
const char* ChildWindowClassName();

// Timers currently running on the child windows of `parent` that belong to
// this module (the timer ids each ChildWindow has started and not lost).
std::size_t CountChildTimers(HWND parent);

}  // namespace win32
}  // namespace km4r::platform
