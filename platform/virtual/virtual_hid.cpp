// The virtual HID bus: devices, handles, timed reads and recorded writes kept
// in memory, and device-change messages delivered synchronously to the
// registered windows. It is both the backend the core sees through Hid() and
// the control surface (VirtualBus) the tests and the bench drive.
#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/hid_device.h"
#include "platform/virtual/virtual_bus.h"
#include "platform/window.h"

namespace km4r::platform {
namespace {

// Large enough for any report the pendant link exchanges.
constexpr std::size_t kMaxReport = 64;

// The class id HID device interfaces have on the platform whose message
// layout the link uses.
constexpr Guid kHidClassGuid{
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct QueuedReport {
  uint8_t data[kMaxReport] = {};
  std::size_t len = 0;
  uint64_t queuedAt = 0;
};

struct Device {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  bool attached = true;
  // Bumped on every unplug so that handles opened before it stay dead after
  // the device comes back, as real handles to a removed interface do.
  uint32_t generation = 0;
  uint32_t latencyMs = 0;
  std::deque<QueuedReport> inputs;
  std::size_t readsStarted = 0;
  std::size_t outputCount = 0;
  uint8_t lastOutput[kMaxReport] = {};
  std::size_t lastOutputLen = 0;
};

struct HandleInfo {
  int device = -1;  // -1: a read event
  OpenMode mode = OpenMode::Query;
  uint32_t generation = 0;
  bool outstanding = false;
  uint64_t readStart = 0;
};

class Bus final : public VirtualBus, public HidBackend {
 public:
  // --- VirtualBus ---
  void Reset() override {
    devices_.clear();
    handles_.clear();
    registrations_.clear();
    clock_ = nullptr;
  }
  void SetClock(const Clock* clock) override { clock_ = clock; }

  int AddDevice(const char* path, uint16_t vendorId, uint16_t productId) override {
    Device d;
    d.path = path != nullptr ? path : "";
    d.vendorId = vendorId;
    d.productId = productId;
    devices_.push_back(std::move(d));
    return static_cast<int>(devices_.size()) - 1;
  }

  int ArriveDevice(const char* path, uint16_t vendorId, uint16_t productId, bool notify) override {
    const int id = AddDevice(path, vendorId, productId);
    if (notify) Notify(kDeviceArrival, devices_[static_cast<std::size_t>(id)].path);
    return id;
  }

  void Unplug(int id, bool notify) override {
    Device* d = Find(id);
    if (d == nullptr) return;
    d->attached = false;
    ++d->generation;
    d->inputs.clear();
    if (notify) Notify(kDeviceRemoveComplete, d->path);
  }

  void Plug(int id, bool notify) override {
    Device* d = Find(id);
    if (d == nullptr) return;
    d->attached = true;
    if (notify) Notify(kDeviceArrival, d->path);
  }

  void QueueInput(int id, const uint8_t* report, std::size_t len) override {
    Device* d = Find(id);
    if (d == nullptr || report == nullptr) return;
    QueuedReport q;
    q.len = std::min(len, kMaxReport);
    std::memcpy(q.data, report, q.len);
    q.queuedAt = Now();
    d->inputs.push_back(q);
  }

  std::size_t QueuedInputs(int id) const override {
    const Device* d = Find(id);
    return d != nullptr ? d->inputs.size() : 0;
  }

  void SetLatency(int id, uint32_t ms) override {
    if (Device* d = Find(id)) d->latencyMs = ms;
  }

  std::size_t OutputCount(int id) const override {
    const Device* d = Find(id);
    return d != nullptr ? d->outputCount : 0;
  }

  bool LastOutput(int id, uint8_t* out, std::size_t len) const override {
    const Device* d = Find(id);
    if (d == nullptr || d->outputCount == 0 || out == nullptr) return false;
    std::memset(out, 0, len);
    std::memcpy(out, d->lastOutput, std::min(len, d->lastOutputLen));
    return true;
  }

  std::size_t ReadsStarted(int id) const override {
    const Device* d = Find(id);
    return d != nullptr ? d->readsStarted : 0;
  }

  std::size_t OpenHandles(int id) const override {
    return static_cast<std::size_t>(std::count_if(
        handles_.begin(), handles_.end(), [id](const auto& h) { return h.second.device == id; }));
  }

  std::size_t Registrations() const override { return registrations_.size(); }

  // --- HidBackend ---
  Guid HidClassGuid() override { return kHidClassGuid; }

  std::vector<std::string> EnumerateInterfaces() override {
    std::vector<std::string> paths;
    for (const Device& d : devices_)
      if (d.attached) paths.push_back(d.path);
    return paths;
  }

  Handle Open(const char* path, OpenMode mode) override {
    if (path == nullptr) return kInvalidHandle;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      const Device& d = devices_[i];
      if (!d.attached || d.path != path) continue;
      HandleInfo info;
      info.device = static_cast<int>(i);
      info.mode = mode;
      info.generation = d.generation;
      return NewHandle(info);
    }
    return kInvalidHandle;
  }

  bool GetAttributes(Handle h, HidAttributes* out) override {
    const Device* d = LiveDevice(h);
    if (d == nullptr || out == nullptr) return false;
    out->vendorId = d->vendorId;
    out->productId = d->productId;
    return true;
  }

  Handle CreateReadEvent() override { return NewHandle(HandleInfo{}); }

  ReadStart StartRead(Handle h, Handle /*event*/, uint8_t* report, std::size_t len) override {
    HandleInfo* info = FindHandle(h);
    Device* d = LiveDevice(h);
    if (info == nullptr || d == nullptr || info->mode != OpenMode::OverlappedRead)
      return ReadStart::Failed;
    ++d->readsStarted;
    // A second read on top of an outstanding one is a caller's fault that the
    // real platform accepts too; it shows in ReadsStarted.
    if (info->outstanding) return ReadStart::Pending;
    info->readStart = Now();
    switch (TakeIfDue(*d, info->readStart, Now(), report, len)) {
      case Taken::Report:
        return ReadStart::Completed;
      case Taken::Malformed:
        return ReadStart::Malformed;
      case Taken::None:
        break;
    }
    info->outstanding = true;
    return ReadStart::Pending;
  }

  WaitResult WaitRead(Handle h, Handle /*event*/, uint32_t timeoutMs, uint8_t* report,
                      std::size_t len) override {
    HandleInfo* info = FindHandle(h);
    if (info == nullptr || !info->outstanding) return WaitResult::Failed;
    Device* d = LiveDevice(h);
    if (d == nullptr) {
      info->outstanding = false;
      return WaitResult::Failed;
    }
    const Taken taken = TakeIfDue(*d, info->readStart, Now() + timeoutMs, report, len);
    if (taken == Taken::None) return WaitResult::Timeout;
    info->outstanding = false;
    return taken == Taken::Report ? WaitResult::Completed : WaitResult::Malformed;
  }

  bool Write(Handle h, const uint8_t* report, std::size_t len) override {
    const HandleInfo* info = FindHandle(h);
    Device* d = LiveDevice(h);
    if (info == nullptr || d == nullptr || info->mode != OpenMode::SyncWrite || report == nullptr)
      return false;
    // Fixed storage: the report cycle writes 40 times a second and must not
    // allocate.
    d->lastOutputLen = std::min(len, kMaxReport);
    std::memcpy(d->lastOutput, report, d->lastOutputLen);
    ++d->outputCount;
    return true;
  }

  void Close(Handle h) override { handles_.erase(h); }

  uintptr_t RegisterNotification(ChildWindow* recipient, const Guid& /*classGuid*/) override {
    if (recipient == nullptr) return 0;
    const uintptr_t id = nextRegistration_++;
    registrations_.emplace_back(id, recipient);
    return id;
  }

  void UnregisterNotification(uintptr_t registration) override {
    registrations_.erase(
        std::remove_if(registrations_.begin(), registrations_.end(),
                       [registration](const auto& r) { return r.first == registration; }),
        registrations_.end());
  }

 private:
  uint64_t Now() const { return clock_ != nullptr ? clock_->NowMs() : 0; }

  Device* Find(int id) {
    return id >= 0 && static_cast<std::size_t>(id) < devices_.size()
               ? &devices_[static_cast<std::size_t>(id)]
               : nullptr;
  }
  const Device* Find(int id) const { return const_cast<Bus*>(this)->Find(id); }

  HandleInfo* FindHandle(Handle h) {
    auto it = handles_.find(h);
    return it != handles_.end() ? &it->second : nullptr;
  }

  // The device behind a handle, unless it has gone since the handle was
  // opened.
  Device* LiveDevice(Handle h) {
    HandleInfo* info = FindHandle(h);
    if (info == nullptr) return nullptr;
    Device* d = Find(info->device);
    if (d == nullptr || !d->attached || d->generation != info->generation) return nullptr;
    return d;
  }

  Handle NewHandle(const HandleInfo& info) {
    // Never reused, not even across Reset, so a stale handle cannot alias a
    // new one.
    const Handle h = nextHandle_++;
    handles_[h] = info;
    return h;
  }

  enum class Taken { None, Report, Malformed };

  // The next queued report completes a read started at readStart once the
  // device's latency has passed and the report exists; copied out only then,
  // and only when it is of the length read.
  static Taken TakeIfDue(Device& d, uint64_t readStart, uint64_t by, uint8_t* report,
                         std::size_t len) {
    if (d.inputs.empty()) return Taken::None;
    const QueuedReport& q = d.inputs.front();
    const uint64_t due = std::max<uint64_t>(readStart + d.latencyMs, q.queuedAt);
    if (due > by) return Taken::None;
    const bool whole = q.len == len;
    if (whole && report != nullptr) std::memcpy(report, q.data, len);
    d.inputs.pop_front();
    return whole ? Taken::Report : Taken::Malformed;
  }

  void Notify(uintptr_t type, const std::string& path) {
    std::vector<unsigned char> record;
    MakeInterfaceBroadcast(kHidClassGuid, path.c_str(), &record);
    // A handler may register or unregister; deliver to those present now.
    const auto recipients = registrations_;
    for (const auto& r : recipients) {
      const bool stillRegistered =
          std::any_of(registrations_.begin(), registrations_.end(),
                      [&r](const auto& cur) { return cur.first == r.first; });
      if (stillRegistered)
        r.second->Dispatch(kMsgDeviceChange, type, reinterpret_cast<intptr_t>(record.data()));
    }
  }

  std::vector<Device> devices_;
  std::map<Handle, HandleInfo> handles_;
  std::vector<std::pair<uintptr_t, ChildWindow*>> registrations_;
  const Clock* clock_ = nullptr;
  Handle nextHandle_ = 0x100;
  uintptr_t nextRegistration_ = 1;
};

Bus& TheBus() {
  static Bus bus;
  return bus;
}

}  // namespace

HidBackend& Hid() {
  return TheBus();
}

}  // namespace km4r::platform

extern "C" km4r::platform::VirtualBus* KM4R_VirtualBus() {
  return &km4r::platform::TheBus();
}
