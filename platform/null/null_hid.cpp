// A device layer with no devices at all: every enumeration is empty and every
// operation fails. Used where a build needs the plug-in without HID access.
#include "platform/hid_device.h"

namespace km4r::platform {
namespace {

class NullHid final : public HidBackend {
 public:
  Guid HidClassGuid() override { return Guid{}; }
  std::vector<std::string> EnumerateInterfaces() override { return {}; }
  Handle Open(const char*, OpenMode) override { return kInvalidHandle; }
  bool GetAttributes(Handle, HidAttributes*) override { return false; }
  Handle CreateReadEvent() override { return kInvalidHandle; }
  ReadStart StartRead(Handle, Handle, uint8_t*, std::size_t) override { return ReadStart::Failed; }
  WaitResult WaitRead(Handle, Handle, uint32_t, uint8_t*, std::size_t) override {
    return WaitResult::Failed;
  }
  bool Write(Handle, const uint8_t*, std::size_t) override { return false; }
  void Close(Handle) override {}
  uintptr_t RegisterNotification(ChildWindow*, const Guid&) override { return 0; }
  void UnregisterNotification(uintptr_t) override {}
};

}  // namespace

HidBackend& Hid() {
  static NullHid backend;
  return backend;
}

}  // namespace km4r::platform
