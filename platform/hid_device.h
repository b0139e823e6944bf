// The HID device layer the pendant link needs, one implementation per
// platform (win32: SetupAPI/HID/overlapped files; posix: hidraw + udev;
// virtual: an in-memory pendant for tests and the bench). The build links
// exactly one; the core reaches it through Hid().
//
// Every operation is called on the host's UI thread. "Blocks" below says how
// long a call may hold that thread; "after unplug" says what it returns once
// the device has gone but its handle is still open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace km4r::platform {

class ChildWindow;

using Handle = intptr_t;
inline constexpr Handle kInvalidHandle = -1;  // every handle test compares with this

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};
};

struct HidAttributes {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
};

enum class OpenMode {
  Query,           // access 0: attributes only
  OverlappedRead,  // GENERIC_READ, reads complete in the background
  SyncWrite,       // GENERIC_WRITE, writes complete before returning
};

// Malformed: a report came that is not `len` bytes long; it is taken off the
// device and dropped, `report` is left as it was and no read is outstanding.
enum class ReadStart { Completed, Pending, Failed, Malformed };
enum class WaitResult { Completed, Timeout, Failed, Malformed };

// Device-change messages: the event types and the record layout of the
// platform's DEV_BROADCAST headers, used unchanged on every platform.
inline constexpr uintptr_t kDeviceArrival = 0x8000;
inline constexpr uintptr_t kDeviceRemoveComplete = 0x8004;
inline constexpr uint32_t kDevTypeDeviceInterface = 5;
inline constexpr std::size_t kBroadcastDeviceTypeOffset = 4;  // uint32
inline constexpr std::size_t kBroadcastClassGuidOffset = 12;  // Guid
inline constexpr std::size_t kBroadcastNameOffset = 28;       // NUL-terminated char[]

// Builds a DEV_BROADCAST_DEVICEINTERFACE_A record naming `path` into `out`
// (non-Windows layers use it to make their arrival and removal messages).
inline void MakeInterfaceBroadcast(const Guid& classGuid, const char* path,
                                   std::vector<unsigned char>* out) {
  const std::size_t n = std::strlen(path);
  out->assign(kBroadcastNameOffset + n + 1, 0);
  const uint32_t size = static_cast<uint32_t>(out->size());
  std::memcpy(out->data(), &size, 4);
  std::memcpy(out->data() + kBroadcastDeviceTypeOffset, &kDevTypeDeviceInterface, 4);
  std::memcpy(out->data() + kBroadcastClassGuidOffset, &classGuid, sizeof classGuid);
  std::memcpy(out->data() + kBroadcastNameOffset, path, n + 1);
}

class HidBackend {
 public:
  virtual ~HidBackend() = default;

  // Class id of HID device interfaces. Blocks: no.
  virtual Guid HidClassGuid() = 0;

  // Paths of the HID interfaces present now, in the platform's fixed order.
  // Interfaces whose path cannot be had are left out. Blocks: briefly (system
  // enumeration), never on a device.
  virtual std::vector<std::string> EnumerateInterfaces() = 0;

  // Opens a path. Returns kInvalidHandle on failure. Blocks: briefly. After
  // unplug: the path is gone, so kInvalidHandle.
  virtual Handle Open(const char* path, OpenMode mode) = 0;

  // Vendor and product id of an open handle (any mode). Blocks: no. After
  // unplug: false.
  virtual bool GetAttributes(Handle h, HidAttributes* out) = 0;

  // The event an overlapped read signals: manual-reset, created signalled.
  // Blocks: no.
  virtual Handle CreateReadEvent() = 0;

  // Starts reading one input report of `len` bytes on an OverlappedRead
  // handle. Completed: the report was ready and stands in `report`. Pending:
  // the read goes on in the background; only WaitRead delivers it, so a
  // half-written report is never seen. Failed: no read started. Blocks: no.
  // After unplug: Failed.
  virtual ReadStart StartRead(Handle h, Handle event, uint8_t* report, std::size_t len) = 0;

  // Waits at most timeoutMs for the outstanding read of h. Completed: the
  // report stands in `report` and nothing is outstanding any more. Timeout:
  // the read stays outstanding. Failed: no read is outstanding (none was, or
  // the device went). Blocks: up to timeoutMs.
  virtual WaitResult WaitRead(Handle h, Handle event, uint32_t timeoutMs, uint8_t* report,
                              std::size_t len) = 0;

  // Writes one output report on a SyncWrite handle. Blocks: until the system
  // has taken the report. After unplug: false.
  virtual bool Write(Handle h, const uint8_t* report, std::size_t len) = 0;

  // Closes a device handle or event; an outstanding read on it ends unseen.
  // Blocks: no. Invalid handles are ignored.
  virtual void Close(Handle h) = 0;

  // Asks for arrival and removal messages of every interface of the class,
  // delivered to the window's OnDeviceChange on the host's thread, a removal
  // naming the interface path. Returns 0 on failure. Blocks: no.
  virtual uintptr_t RegisterNotification(ChildWindow* recipient, const Guid& classGuid) = 0;
  virtual void UnregisterNotification(uintptr_t registration) = 0;
};

// The backend the build linked in.
HidBackend& Hid();

}  // namespace km4r::platform
