// The host's window object on Linux (what HostBlockD points at). It is an
// abstract interface so that the plug-in, loaded as a separate module, calls
// into the host's own implementation through the vtable; MessageLoop is the
// implementation the bench and the tests use.
#pragma once

#include <cstdint>

namespace km4r::platform {

class ChildWindow;

// Something the message loop watches for readability (the udev monitor).
// OnReadable runs on the loop's thread.
class FdWatcher {
 public:
  virtual ~FdWatcher() = default;
  virtual void OnReadable() = 0;
};

class HostWindow {
 public:
  virtual ~HostWindow() = default;
  // Makes child a child window with the given id; false if refused.
  virtual bool AttachChild(ChildWindow* child, int id) = 0;
  // Forgets the child and every timer it had. Safe for an unknown child.
  virtual void DetachChild(ChildWindow* child) = 0;
  // (Re)starts timer `id` of the child with the period; messages carry id.
  virtual bool SetTimer(ChildWindow* child, uint32_t id, uint32_t periodMs) = 0;
  // Watches fd until UnwatchFd; the watcher is called when fd is readable.
  virtual void WatchFd(int fd, FdWatcher* watcher) = 0;
  virtual void UnwatchFd(int fd) = 0;
};

}  // namespace km4r::platform
