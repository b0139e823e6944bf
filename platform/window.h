// The window framework the plug-in needs: a hidden child window of the host's
// window that receives timer and device-change messages, all dispatched on the
// thread that pumps the host window's messages. Each platform layer implements
// it (Win32: a real HWND; posix: the host window's own message loop).
#pragma once

#include <cstdint>

namespace km4r::platform {

// Message numbers follow the Win32 values so every handler reads the same.
inline constexpr uint32_t kMsgTimer = 0x0113;
inline constexpr uint32_t kMsgDeviceChange = 0x0219;

// The host's window object, handed over as HostBlockD. Opaque to the core; its
// definition belongs to the platform layer (posix/host_window.h,
// win32/host_window.h).
class HostWindow;

class ChildWindow {
 public:
  ChildWindow();
  // Destroys the window if it was created; that also ends its timers.
  virtual ~ChildWindow();
  ChildWindow(const ChildWindow&) = delete;
  ChildWindow& operator=(const ChildWindow&) = delete;

  // Creates the hidden child window (no title, child style only, never
  // shown). A platform layer may fall back to a window of its own when the
  // host's cannot be a parent (Parent() is then nullptr). Returns false when
  // the platform refused; the object stays usable but receives no messages.
  bool Create(HostWindow* parent, int left, int top, int right, int bottom, int id);
  bool IsCreated() const;

  // Starts a periodic timer; its messages reach OnTimer on the host's thread.
  bool StartTimer(uint32_t id, uint32_t periodMs);

  // The platform's handle of the window (HWND on Win32), nullptr before
  // Create. Device-notification registration needs it.
  void* NativeHandle() const;
  HostWindow* Parent() const;

  // Routes one message to the handlers below; called by the platform layer on
  // the host's thread.
  intptr_t Dispatch(uint32_t message, uintptr_t wparam, intptr_t lparam);

  // The host's window is being destroyed and takes this one with it: the
  // platform layer forgets the window (no more messages, no timer) and then
  // calls OnParentDestroyed. Virtual, since the host's own copy of the
  // platform layer calls it on the plug-in's object.
  virtual void ParentDestroyed();

 protected:
  virtual void OnTimer(uintptr_t /*timerId*/) {}
  // eventData points at a record that starts with a DEV_BROADCAST_HDR layout
  // (see platform/hid_device.h).
  virtual intptr_t OnDeviceChange(uintptr_t /*eventType*/, const void* /*eventData*/) { return 1; }
  virtual void OnParentDestroyed() {}

 private:
  struct Impl;
  Impl* impl_ = nullptr;
};

}  // namespace km4r::platform
