// The Linux device layer: HID interfaces are hidraw nodes found through udev,
// identified by the HID bus info, and watched by a udev monitor whose socket
// the host window's message loop polls, so that every notification arrives on
// the host's thread.
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "platform/hid_device.h"
#include "platform/posix/hidraw_io.h"
#include "platform/posix/host_window.h"
#include "platform/window.h"

namespace km4r::platform {
namespace {

using hidraw::ReportIds;

// The class id HID interfaces carry in device-change records.
constexpr Guid kHidClassGuid{
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
  void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

// Ids from udev, for a query handle that could not be opened for reading.
bool AttributesFromUdev(int fd, HidAttributes* out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  UdevPtr<udev> u(udev_new());
  if (!u) return false;
  UdevPtr<udev_device> dev(udev_device_new_from_devnum(u.get(), 'c', st.st_rdev));
  if (!dev) return false;
  // The parent belongs to the device; it is not unreferenced separately.
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(dev.get(), "hid", nullptr);
  return hid != nullptr && hidraw::ParseHidId(udev_device_get_property_value(hid, "HID_ID"),
                                              &out->vendorId, &out->productId);
}

ReportIds ReportIdsOf(int fd) {
  int size = 0;
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) != 0 || size <= 0) return ReportIds::Unknown;
  hidraw_report_descriptor desc{};
  desc.size = static_cast<uint32_t>(std::min<int>(size, HID_MAX_DESCRIPTOR_SIZE));
  if (::ioctl(fd, HIDIOCGRDESC, &desc) != 0) return ReportIds::Unknown;
  return hidraw::ReportIdsFromDescriptor(desc.value, desc.size);
}

// One registration: the udev monitor and the window it reports to.
class Monitor final : public FdWatcher {
 public:
  Monitor(ChildWindow* recipient, HostWindow* host, const Guid& guid)
      : recipient_(recipient), host_(host), guid_(guid) {}
  ~Monitor() override {
    if (destroyed_ != nullptr) *destroyed_ = true;
    if (fd_ >= 0) host_->UnwatchFd(fd_);
  }

  bool Start() {
    udev_.reset(udev_new());
    if (!udev_) return false;
    monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), "udev"));
    if (!monitor_ ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_.get()) < 0)
      return false;
    fd_ = udev_monitor_get_fd(monitor_.get());
    if (fd_ < 0) return false;
    host_->WatchFd(fd_, this);
    return true;
  }

  void OnReadable() override {
    // The recipient may unregister, and so delete this monitor, from inside
    // its handler (the plug-in stopped from a host callback).
    bool destroyed = false;
    destroyed_ = &destroyed;
    // The monitor socket is non-blocking: drain every event that is queued.
    while (UdevPtr<udev_device> dev{udev_monitor_receive_device(monitor_.get())}) {
      const char* action = udev_device_get_action(dev.get());
      const char* node = udev_device_get_devnode(dev.get());
      if (action == nullptr || node == nullptr) continue;
      uintptr_t type = 0;
      if (std::strcmp(action, "add") == 0) type = kDeviceArrival;
      if (std::strcmp(action, "remove") == 0) type = kDeviceRemoveComplete;
      if (type == 0) continue;
      std::vector<unsigned char> record;
      MakeInterfaceBroadcast(guid_, node, &record);
      dev.reset();
      recipient_->Dispatch(kMsgDeviceChange, type, reinterpret_cast<intptr_t>(record.data()));
      if (destroyed) return;
    }
    destroyed_ = nullptr;
  }

 private:
  ChildWindow* recipient_;
  HostWindow* host_;
  Guid guid_;
  UdevPtr<udev> udev_;
  UdevPtr<udev_monitor> monitor_;
  int fd_ = -1;
  bool* destroyed_ = nullptr;
};

class HidrawBackend final : public HidBackend {
 public:
  Guid HidClassGuid() override { return kHidClassGuid; }

  std::vector<std::string> EnumerateInterfaces() override {
    std::vector<std::string> nodes;
    UdevPtr<udev> u(udev_new());
    if (!u) return nodes;
    UdevPtr<udev_enumerate> e(udev_enumerate_new(u.get()));
    if (!e || udev_enumerate_add_match_subsystem(e.get(), "hidraw") < 0 ||
        udev_enumerate_scan_devices(e.get()) < 0)
      return nodes;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
      UdevPtr<udev_device> dev(
          udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(entry)));
      const char* node = dev ? udev_device_get_devnode(dev.get()) : nullptr;
      if (node != nullptr) nodes.emplace_back(node);
    }
    // udev's order follows the sysfs walk; sorting makes it repeatable.
    std::sort(nodes.begin(), nodes.end());
    return nodes;
  }

  Handle Open(const char* path, OpenMode mode) override {
    if (path == nullptr) return kInvalidHandle;
    int fd = -1;
    switch (mode) {
      case OpenMode::Query:
        fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        // Without read permission the node can still be identified by udev.
        if (fd < 0 && (errno == EACCES || errno == EPERM)) fd = ::open(path, O_PATH | O_CLOEXEC);
        break;
      case OpenMode::OverlappedRead:
        fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        break;
      case OpenMode::SyncWrite:
        fd = ::open(path, O_WRONLY | O_CLOEXEC);
        break;
    }
    if (fd < 0) return kInvalidHandle;
    reportIds_[fd] = mode == OpenMode::OverlappedRead ? ReportIdsOf(fd) : ReportIds::Unknown;
    return fd;
  }

  bool GetAttributes(Handle h, HidAttributes* out) override {
    if (h < 0 || out == nullptr) return false;
    // Any handle of the node answers, the report handles included: an arrival
    // checks those before the link counts as connected.
    const int fd = static_cast<int>(h);
    if (hidraw::ReadDeviceIds(fd, &out->vendorId, &out->productId)) return true;
    return AttributesFromUdev(fd, out);
  }

  // Reads need no event here (poll waits on the node itself); an eventfd gives
  // the link a real handle to hold and close.
  Handle CreateReadEvent() override {
    const int fd = ::eventfd(1, EFD_CLOEXEC | EFD_NONBLOCK);
    return fd >= 0 ? fd : kInvalidHandle;
  }

  ReadStart StartRead(Handle h, Handle /*event*/, uint8_t* report, std::size_t len) override {
    if (h < 0) return ReadStart::Failed;
    switch (hidraw::ReadReport(static_cast<int>(h), IdsOf(h), report, len)) {
      case hidraw::ReadOutcome::Report:
        return ReadStart::Completed;
      case hidraw::ReadOutcome::NotYet:
        return ReadStart::Pending;
      case hidraw::ReadOutcome::Malformed:
        return ReadStart::Malformed;
      case hidraw::ReadOutcome::Failed:
        break;
    }
    return ReadStart::Failed;
  }

  WaitResult WaitRead(Handle h, Handle /*event*/, uint32_t timeoutMs, uint8_t* report,
                      std::size_t len) override {
    if (h < 0) return WaitResult::Failed;
    switch (hidraw::WaitReport(static_cast<int>(h), timeoutMs, IdsOf(h), report, len)) {
      case hidraw::ReadOutcome::Report:
        return WaitResult::Completed;
      case hidraw::ReadOutcome::NotYet:
        return WaitResult::Timeout;
      case hidraw::ReadOutcome::Malformed:
        return WaitResult::Malformed;
      case hidraw::ReadOutcome::Failed:
        break;
    }
    return WaitResult::Failed;
  }

  bool Write(Handle h, const uint8_t* report, std::size_t len) override {
    return h >= 0 && hidraw::WriteReport(static_cast<int>(h), report, len);
  }

  void Close(Handle h) override {
    if (h < 0) return;
    reportIds_.erase(static_cast<int>(h));
    ::close(static_cast<int>(h));
  }

  uintptr_t RegisterNotification(ChildWindow* recipient, const Guid& classGuid) override {
    if (recipient == nullptr || recipient->Parent() == nullptr) return 0;
    auto monitor = std::make_unique<Monitor>(recipient, recipient->Parent(), classGuid);
    if (!monitor->Start()) return 0;
    return reinterpret_cast<uintptr_t>(monitor.release());
  }

  void UnregisterNotification(uintptr_t registration) override {
    delete reinterpret_cast<Monitor*>(registration);
  }

 private:
  ReportIds IdsOf(Handle h) const {
    auto it = reportIds_.find(static_cast<int>(h));
    return it != reportIds_.end() ? it->second : ReportIds::Unknown;
  }

  std::map<int, ReportIds> reportIds_;
};

}  // namespace

HidBackend& Hid() {
  static HidrawBackend backend;
  return backend;
}

}  // namespace km4r::platform
