// The host's window object on Windows (what HostBlockD points at): the
// window framework's own window object, laid out as the framework lays it
// out. The plug-in reads one member, CWnd::m_hWnd, and never writes to it.
//
// CWnd's first member follows CObject's virtual table and CCmdTarget's
// members. CCmdTarget's last member, m_pModuleState, is there in every host
// that uses the framework's DLL and in a newer static build, but not in an
// older static one, whose m_hWnd sits one slot earlier, followed by
// m_hWndOwner. With a framework DLL loaded the plug-in reads the first place
// only; linked statically, whichever of the two holds a live window of the
// thread that calls the entry points (its timers live on that thread's
// message queue), the thread's main window when both do. Only readable
// memory is read. An object that yields none gets a message-only window of
// the plug-in's own, so the cycle timer and the device notifications run all
// the same.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace km4r::platform {

// The framework's window object as the bench and the test hosts make it.
class HostWindow {
 public:
  const void* vtable = nullptr;    // CObject
  long refs = 1;                   // CCmdTarget: m_dwRef
  void* outerUnknown = nullptr;    //   m_pOuterUnknown
  uintptr_t innerUnknown = 0;      //   m_xInnerUnknown
  uintptr_t dispatch = 0;          //   m_xDispatch
  int resultExpected = 1;          //   m_bResultExpected
  uintptr_t connectionPoints = 0;  //   m_xConnPtContainer
  void* moduleState = nullptr;     //   m_pModuleState
  HWND hwnd = nullptr;             // CWnd: m_hWnd
};

// Where m_hWnd sits: with CCmdTarget's m_pModuleState, then without it.
inline constexpr std::size_t kWindowHandleOffsets[] = {sizeof(void*) == 8 ? 0x40 : 0x20,
                                                       sizeof(void*) == 8 ? 0x38 : 0x1C};
static_assert(offsetof(HostWindow, hwnd) == kWindowHandleOffsets[0]);

namespace win32 {

// The HWND the host's window object yields: a live window of the calling
// thread at the place of m_hWnd the process's framework allows, or nullptr.
HWND HostHwnd(const HostWindow* window);

// Window class of the plug-in's child windows (registered once per module).
const char* ChildWindowClassName();

// Timers currently running on the child windows of `parent` that belong to
// this module (the timer ids each ChildWindow has started and not lost).
std::size_t CountChildTimers(HWND parent);

}  // namespace win32
}  // namespace km4r::platform
