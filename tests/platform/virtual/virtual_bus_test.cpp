// The virtual HID bus as the link and the bench rely on it.
#include "platform/window.h"
#include "tests/pendant/link_fixture.h"

namespace km4r::test {
namespace {

using platform::Hid;
using platform::kInvalidHandle;
using platform::OpenMode;

class Recorder : public platform::ChildWindow {
 public:
  std::vector<std::pair<uintptr_t, std::string>> events;

 protected:
  intptr_t OnDeviceChange(uintptr_t type, const void* data) override {
    const auto* bytes = static_cast<const unsigned char*>(data);
    uint32_t deviceType = 0;
    std::memcpy(&deviceType, bytes + platform::kBroadcastDeviceTypeOffset, 4);
    EXPECT_EQ(deviceType, platform::kDevTypeDeviceInterface);
    events.emplace_back(type,
                        reinterpret_cast<const char*>(bytes + platform::kBroadcastNameOffset));
    return 1;
  }
};

TEST_F(LinkTest, BusEnumeratesAttachedDevicesInInsertionOrder) {
  const int a = bus->AddDevice("/z", 1, 2);
  bus->AddDevice("/a", 3, 4);
  bus->AddDevice("/m", 5, 6);
  EXPECT_EQ(Hid().EnumerateInterfaces(), (std::vector<std::string>{"/z", "/a", "/m"}));
  bus->Unplug(a, false);
  EXPECT_EQ(Hid().EnumerateInterfaces(), (std::vector<std::string>{"/a", "/m"}));
  bus->Plug(a, false);
  EXPECT_EQ(Hid().EnumerateInterfaces(), (std::vector<std::string>{"/z", "/a", "/m"}));
}

TEST_F(LinkTest, BusHandlesDieWithTheDevice) {
  const int id = bus->AddDevice("/p", 0x04D8, 0xFCE7);
  const auto query = Hid().Open("/p", OpenMode::Query);
  const auto write = Hid().Open("/p", OpenMode::SyncWrite);
  ASSERT_NE(query, kInvalidHandle);
  EXPECT_EQ(Hid().Open("/nothing", OpenMode::Query), kInvalidHandle);
  platform::HidAttributes attr;
  ASSERT_TRUE(Hid().GetAttributes(query, &attr));
  EXPECT_EQ(attr.vendorId, 0x04D8);
  EXPECT_EQ(attr.productId, 0xFCE7);
  const uint8_t out[3] = {0, 1, 2};
  EXPECT_FALSE(Hid().Write(query, out, 3));  // not opened for writing
  EXPECT_TRUE(Hid().Write(write, out, 3));

  bus->Unplug(id, false);
  EXPECT_FALSE(Hid().GetAttributes(query, &attr));
  EXPECT_FALSE(Hid().Write(write, out, 3));
  EXPECT_EQ(Hid().Open("/p", OpenMode::Query), kInvalidHandle);
  bus->Plug(id, false);
  // Handles from before the unplug stay dead; new ones work.
  EXPECT_FALSE(Hid().Write(write, out, 3));
  const auto again = Hid().Open("/p", OpenMode::SyncWrite);
  EXPECT_TRUE(Hid().Write(again, out, 3));
  EXPECT_EQ(bus->OutputCount(id), 2u);
  uint8_t last[5] = {9, 9, 9, 9, 9};
  ASSERT_TRUE(bus->LastOutput(id, last, sizeof last));
  EXPECT_EQ(std::vector<uint8_t>(last, last + 5), (std::vector<uint8_t>{0, 1, 2, 0, 0}));
  EXPECT_EQ(bus->OpenHandles(id), 3u);
  for (auto h : {query, write, again}) Hid().Close(h);
  EXPECT_EQ(bus->OpenHandles(id), 0u);
}

TEST_F(LinkTest, BusReadTiming) {
  struct Case {
    const char* name;
    uint32_t latency;
    bool queued;
    uint32_t waitAfterMs;  // clock advance between the start and the wait
    platform::ReadStart start;
    platform::WaitResult wait;
    std::size_t length = 8;  // of the queued report
  };
  using platform::ReadStart;
  using platform::WaitResult;
  const std::vector<Case> cases = {
      {"ready at once", 0, true, 0, ReadStart::Completed, WaitResult::Failed},
      {"within the bound", 5, true, 0, ReadStart::Pending, WaitResult::Completed},
      {"past the bound", 6, true, 0, ReadStart::Pending, WaitResult::Timeout},
      {"past the bound, waited later", 6, true, 1, ReadStart::Pending, WaitResult::Completed},
      {"nothing queued", 0, false, 100, ReadStart::Pending, WaitResult::Timeout},
      {"short, at once", 0, true, 0, ReadStart::Malformed, WaitResult::Failed, 7},
      {"long, waited for", 5, true, 0, ReadStart::Pending, WaitResult::Malformed, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bus->Reset();
    bus->SetClock(&clock);
    const int id = bus->AddDevice("/p", 1, 1);
    bus->SetLatency(id, c.latency);
    const uint8_t in[9] = {0, 11, 22, 33, 44, 55, 66, 77, 88};
    if (c.queued) bus->QueueInput(id, in, c.length);
    const auto h = Hid().Open("/p", OpenMode::OverlappedRead);
    const auto ev = Hid().CreateReadEvent();
    uint8_t report[8] = {};
    EXPECT_EQ(Hid().StartRead(h, ev, report, 8), c.start);
    EXPECT_EQ(report[1], c.start == ReadStart::Completed ? 11 : 0);
    clock.Advance(c.waitAfterMs);
    EXPECT_EQ(Hid().WaitRead(h, ev, 5, report, 8), c.wait);
    const bool got = c.start == ReadStart::Completed || c.wait == WaitResult::Completed;
    const bool taken = got || c.start == ReadStart::Malformed || c.wait == WaitResult::Malformed;
    EXPECT_EQ(report[7], got ? 77 : 0);
    EXPECT_EQ(bus->QueuedInputs(id), c.queued && !taken ? 1u : 0u);
    Hid().Close(h);
    Hid().Close(ev);
  }
}

TEST_F(LinkTest, BusReadEndsWhenTheDeviceGoes) {
  const int id = bus->AddDevice("/p", 1, 1);
  const auto h = Hid().Open("/p", OpenMode::OverlappedRead);
  uint8_t report[8] = {};
  ASSERT_EQ(Hid().StartRead(h, kInvalidHandle, report, 8), platform::ReadStart::Pending);
  bus->Unplug(id, false);
  EXPECT_EQ(Hid().WaitRead(h, kInvalidHandle, 5, report, 8), platform::WaitResult::Failed);
  EXPECT_EQ(Hid().StartRead(h, kInvalidHandle, report, 8), platform::ReadStart::Failed);
}

TEST_F(LinkTest, BusNotifiesRegisteredWindows) {
  Recorder first, second;
  const auto r1 = Hid().RegisterNotification(&first, Hid().HidClassGuid());
  const auto r2 = Hid().RegisterNotification(&second, Hid().HidClassGuid());
  ASSERT_NE(r1, 0u);
  const int id = bus->AddDevice("/dev/p", 1, 1);
  bus->Unplug(id, true);
  Hid().UnregisterNotification(r2);
  bus->Plug(id, true);
  bus->Unplug(id, false);  // silent
  bus->ArriveDevice("/dev/q", 2, 2, true);
  using E = std::pair<uintptr_t, std::string>;
  EXPECT_EQ(first.events, (std::vector<E>{{platform::kDeviceRemoveComplete, "/dev/p"},
                                          {platform::kDeviceArrival, "/dev/p"},
                                          {platform::kDeviceArrival, "/dev/q"}}));
  EXPECT_EQ(second.events, (std::vector<E>{{platform::kDeviceRemoveComplete, "/dev/p"}}));
  Hid().UnregisterNotification(r1);
  EXPECT_EQ(bus->Registrations(), 0u);
}

}  // namespace
}  // namespace km4r::test
