// The HID device layer on Windows: SetupAPI enumeration of the HID interface
// class, HID attributes, overlapped reads with a bounded wait, synchronous
// writes and device-change registration for the window.
#include <windows.h>
// windows.h first: the SetupAPI and HID headers need its types
#include <dbt.h>
#include <setupapi.h>
// mingw's hidsdi.h declares the functions without C linkage
extern "C" {
#include <hidsdi.h>
}

#include <cstdlib>
#include <cstring>

#include "platform/hid_device.h"
#include "platform/window.h"

namespace km4r::platform {

namespace {

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32);
static_assert(sizeof(Guid) == sizeof(GUID));

HANDLE AsHandle(Handle h) {
  return reinterpret_cast<HANDLE>(h);
}
Handle FromHandle(HANDLE h) {
  return h == INVALID_HANDLE_VALUE || h == nullptr ? kInvalidHandle : reinterpret_cast<Handle>(h);
}

GUID ToGuid(const Guid& g) {
  GUID out;
  out.Data1 = g.data1;
  out.Data2 = g.data2;
  out.Data3 = g.data3;
  std::memcpy(out.Data4, g.data4, sizeof out.Data4);
  return out;
}

class Win32Hid final : public HidBackend {
 public:
  Guid HidClassGuid() override {
    GUID g{};
    HidD_GetHidGuid(&g);
    Guid out;
    out.data1 = g.Data1;
    out.data2 = g.Data2;
    out.data3 = g.Data3;
    std::memcpy(out.data4, g.Data4, sizeof out.data4);
    return out;
  }

  std::vector<std::string> EnumerateInterfaces() override {
    std::vector<std::string> paths;
    GUID hid{};
    HidD_GetHidGuid(&hid);
    HDEVINFO set =
        SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return paths;
    for (DWORD index = 0;; ++index) {
      SP_DEVICE_INTERFACE_DATA iface{};
      iface.cbSize = sizeof iface;
      if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hid, index, &iface)) break;
      DWORD size = 0;
      SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &size, nullptr);
      if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
      auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, size));
      if (detail == nullptr) continue;
      // The fixed part only; the path follows it.
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
      if (SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, size, nullptr, nullptr))
        paths.emplace_back(detail->DevicePath);
      std::free(detail);
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
  }

  Handle Open(const char* path, OpenMode mode) override {
    if (path == nullptr) return kInvalidHandle;
    DWORD access = 0;
    DWORD flags = 0;
    switch (mode) {
      case OpenMode::Query:
        break;
      case OpenMode::OverlappedRead:
        access = GENERIC_READ;
        flags = FILE_FLAG_OVERLAPPED;
        break;
      case OpenMode::SyncWrite:
        access = GENERIC_WRITE;
        break;
    }
    return FromHandle(CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, flags, nullptr));
  }

  bool GetAttributes(Handle h, HidAttributes* out) override {
    if (h == kInvalidHandle || out == nullptr) return false;
    HIDD_ATTRIBUTES a{};
    a.Size = sizeof a;
    if (!HidD_GetAttributes(AsHandle(h), &a)) return false;
    out->vendorId = a.VendorID;
    out->productId = a.ProductID;
    return true;
  }

  Handle CreateReadEvent() override {
    // Manual reset, initially signalled, unnamed.
    return FromHandle(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  }

  ReadStart StartRead(Handle h, Handle event, uint8_t* report, std::size_t len) override {
    if (h == kInvalidHandle || event == kInvalidHandle || report == nullptr)
      return ReadStart::Failed;
    Slot* slot = SlotFor(h, true);
    if (slot == nullptr || slot->outstanding || len > sizeof slot->buffer) return ReadStart::Failed;
    slot->overlapped = OVERLAPPED{};
    slot->overlapped.hEvent = AsHandle(event);
    slot->length = len;
    // The system writes into the slot's buffer, never into the caller's, so a
    // half-completed read is never seen.
    if (ReadFile(AsHandle(h), slot->buffer, static_cast<DWORD>(len), nullptr, &slot->overlapped)) {
      DWORD transferred = 0;
      GetOverlappedResult(AsHandle(h), &slot->overlapped, &transferred, FALSE);
      const bool whole = transferred == len;
      if (whole) std::memcpy(report, slot->buffer, len);
      Free(slot);
      return whole ? ReadStart::Completed : ReadStart::Malformed;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
      Free(slot);
      return ReadStart::Failed;
    }
    slot->outstanding = true;
    return ReadStart::Pending;
  }

  WaitResult WaitRead(Handle h, Handle event, uint32_t timeoutMs, uint8_t* report,
                      std::size_t len) override {
    Slot* slot = SlotFor(h, false);
    if (slot == nullptr || !slot->outstanding) return WaitResult::Failed;
    const DWORD waited = WaitForSingleObject(AsHandle(event), timeoutMs);
    if (waited == WAIT_TIMEOUT) return WaitResult::Timeout;
    DWORD transferred = 0;
    if (waited == WAIT_OBJECT_0) {
      if (GetOverlappedResult(AsHandle(h), &slot->overlapped, &transferred, FALSE)) {
        const bool whole = transferred == slot->length && len == slot->length;
        if (whole && report != nullptr) std::memcpy(report, slot->buffer, len);
        Free(slot);
        return whole ? WaitResult::Completed : WaitResult::Malformed;
      }
      if (GetLastError() == ERROR_IO_INCOMPLETE) return WaitResult::Timeout;
      Free(slot);  // the read ended with an error (device gone)
      return WaitResult::Failed;
    }
    // The wait itself failed: end the read so nothing stays outstanding.
    Cancel(h, slot);
    return WaitResult::Failed;
  }

  bool Write(Handle h, const uint8_t* report, std::size_t len) override {
    if (h == kInvalidHandle || report == nullptr) return false;
    DWORD written = 0;
    return WriteFile(AsHandle(h), report, static_cast<DWORD>(len), &written, nullptr) != FALSE;
  }

  void Close(Handle h) override {
    if (h == kInvalidHandle) return;
    if (Slot* slot = SlotFor(h, false)) Cancel(h, slot);
    CloseHandle(AsHandle(h));
  }

  uintptr_t RegisterNotification(ChildWindow* recipient, const Guid& classGuid) override {
    if (recipient == nullptr || recipient->NativeHandle() == nullptr) return 0;
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = ToGuid(classGuid);
    return reinterpret_cast<uintptr_t>(RegisterDeviceNotificationA(
        static_cast<HWND>(recipient->NativeHandle()), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
  }

  void UnregisterNotification(uintptr_t registration) override {
    if (registration != 0) UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(registration));
  }

 private:
  // One read in flight per handle; the plug-in has one read handle, the rest
  // is headroom. Fixed storage: the report cycle allocates nothing.
  struct Slot {
    Handle handle = kInvalidHandle;
    bool outstanding = false;
    OVERLAPPED overlapped{};
    std::size_t length = 0;
    uint8_t buffer[64] = {};
  };
  static constexpr std::size_t kSlots = 4;

  Slot* SlotFor(Handle h, bool create) {
    for (Slot& s : slots_)
      if (s.handle == h) return &s;
    if (!create) return nullptr;
    for (Slot& s : slots_)
      if (s.handle == kInvalidHandle) {
        s.handle = h;
        return &s;
      }
    return nullptr;
  }

  static void Free(Slot* slot) { *slot = Slot{}; }

  // Ends an outstanding read and waits until the system has let go of the
  // slot's buffer and OVERLAPPED record.
  static void Cancel(Handle h, Slot* slot) {
    if (slot->outstanding) {
      CancelIo(AsHandle(h));
      DWORD transferred = 0;
      GetOverlappedResult(AsHandle(h), &slot->overlapped, &transferred, TRUE);
    }
    Free(slot);
  }

  Slot slots_[kSlots];
};

}  // namespace

HidBackend& Hid() {
  static Win32Hid backend;
  return backend;
}

}  // namespace km4r::platform
