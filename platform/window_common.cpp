#include "platform/window.h"

namespace km4r::platform {

intptr_t ChildWindow::Dispatch(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    case kMsgTimer:
      OnTimer(wparam);
      return 0;
    case kMsgDeviceChange:
      return OnDeviceChange(wparam, reinterpret_cast<const void*>(lparam));
    default:
      return 0;
  }
}

}  // namespace km4r::platform
