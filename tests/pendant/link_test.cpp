// Discovery, hot-plug and the removal test of the pendant link.
#include <cstring>

#include "jog/jog_steps.h"
#include "plugin/exports.h"
#include "tests/pendant/link_fixture.h"
#include "tests/support/test_host_window.h"

namespace km4r::test {
namespace {

using platform::kInvalidHandle;

struct Dev {
  const char* path;
  uint16_t vid;
  uint16_t pid;
};

struct DiscoveryCase {
  const char* name;
  std::vector<Dev> devices;
  int expected;  // index of the device that becomes the pendant, -1 none
};

TEST_F(LinkTest, DiscoveryOpensFirstMatchingDeviceOnly) {
  const std::vector<DiscoveryCase> cases = {
      {"nothing attached", {}, -1},
      {"two pendants: first in order",
       {{"/dev/p-b", 0x04D8, 0xFCE7}, {"/dev/p-a", 0x04D8, 0xFCE7}},
       0},
      {"same vendor, other product skipped",
       {{"/dev/x0", 0x04D8, 0x0001}, {"/dev/p", 0x04D8, 0xFCE7}},
       1},
      {"other vendor, same product skipped",
       {{"/dev/x0", 0x1234, 0xFCE7}, {"/dev/p", 0x04D8, 0xFCE7}},
       1},
      {"only strangers", {{"/dev/m", 0x046D, 0xC077}, {"/dev/k", 0x04D8, 0x0002}}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bus->Reset();
    bus->SetClock(&clock);
    std::vector<int> ids;
    for (const Dev& d : c.devices) ids.push_back(bus->AddDevice(d.path, d.vid, d.pid));
    PendantWindow& w = Open();
    EXPECT_EQ(w.connected, c.expected >= 0 ? 1 : 0);
    EXPECT_EQ(w.devicePath, c.expected >= 0 ? c.devices[c.expected].path : "");
    for (std::size_t i = 0; i < ids.size(); ++i) {
      // The pendant keeps its query, read and write handles; every other
      // device probed is closed again.
      EXPECT_EQ(bus->OpenHandles(ids[i]), static_cast<int>(i) == c.expected ? 3u : 0u) << i;
    }
    // Registered whether or not a pendant was found.
    EXPECT_EQ(bus->Registrations(), 1u);
    window.reset();
    EXPECT_EQ(bus->Registrations(), 0u);
    for (int id : ids) EXPECT_EQ(bus->OpenHandles(id), 0u);
  }
}

std::vector<unsigned char> Record(const char* path, uint32_t deviceType = 5) {
  std::vector<unsigned char> r;
  platform::MakeInterfaceBroadcast(platform::Guid{}, path, &r);
  std::memcpy(r.data() + platform::kBroadcastDeviceTypeOffset, &deviceType, 4);
  return r;
}

TEST_F(LinkTest, IsPendantPathComparesNameIgnoringCase) {
  AddPendant("/dev/Virtual/HID-Pendant0");
  PendantWindow& w = Open();
  struct Case {
    const char* name;
    std::vector<unsigned char> record;
    bool expected;
  };
  std::vector<Case> cases = {
      {"same path", Record("/dev/Virtual/HID-Pendant0"), true},
      {"differs only in case", Record("/DEV/virtual/hid-pendant0"), true},
      {"other path", Record("/dev/Virtual/HID-Pendant1"), false},
      {"prefix of the path", Record("/dev/Virtual/HID-Pendant"), false},
      {"path with more after it", Record("/dev/Virtual/HID-Pendant0x"), false},
      {"volume record", Record("/dev/Virtual/HID-Pendant0", 2), false},
  };
  // A record whose size ends before the name's NUL: only the bytes inside
  // the record count.
  auto cut = Record("/dev/Virtual/HID-Pendant0zzz");
  const uint32_t shortSize = static_cast<uint32_t>(platform::kBroadcastNameOffset + 25);
  std::memcpy(cut.data(), &shortSize, 4);
  cases.push_back({"name bounded by record size", cut, true});
  for (const auto& c : cases) EXPECT_EQ(w.IsPendantPath(c.record.data()), c.expected) << c.name;
  EXPECT_FALSE(w.IsPendantPath(nullptr));
}

TEST_F(LinkTest, RemovalEventsDisconnectOnlyForThePendant) {
  struct Case {
    const char* name;
    uintptr_t type;
    std::vector<unsigned char> record;
    uint8_t connectedAfter;
  };
  const std::vector<Case> cases = {
      {"pendant removed, path in other case", platform::kDeviceRemoveComplete,
       Record("/DEV/VIRTUAL/HID-PENDANT0"), 0},
      {"other HID device removed", platform::kDeviceRemoveComplete, Record("/dev/hidraw9"), 1},
      {"volume removed", platform::kDeviceRemoveComplete, Record(kPendantPath, 2), 1},
      {"other event type", 0x8001, Record(kPendantPath), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bus->Reset();
    const int id = AddPendant();
    PendantWindow& w = Open();
    ASSERT_EQ(w.connected, 1);
    EXPECT_EQ(w.ProcessDeviceEvent(c.type, c.record.data()), 1);
    EXPECT_EQ(w.connected, c.connectedAfter);
    EXPECT_EQ(w.readHandle != kInvalidHandle, c.connectedAfter == 1);
    EXPECT_EQ(w.writeHandle != kInvalidHandle, c.connectedAfter == 1);
    // Only the query handle outlives a removal.
    EXPECT_EQ(bus->OpenHandles(id), c.connectedAfter == 1 ? 3u : 1u);
  }
}

TEST_F(LinkTest, UnrelatedArrivalReopensThePendant) {
  const int id = AddPendant();
  PendantWindow& w = Open();
  const auto oldRead = w.readHandle;
  const auto oldWrite = w.writeHandle;
  bus->ArriveDevice("/dev/mouse", 0x046D, 0xC077, true);
  EXPECT_EQ(w.connected, 1);
  EXPECT_NE(w.readHandle, kInvalidHandle);
  EXPECT_NE(w.writeHandle, kInvalidHandle);
  EXPECT_NE(w.readHandle, oldRead);
  EXPECT_NE(w.writeHandle, oldWrite);
  EXPECT_EQ(bus->OpenHandles(id), 3u);  // the old pair was closed
}

TEST_F(LinkTest, UnplugAndReplugThroughTheBus) {
  const int id = AddPendant();
  PendantWindow& w = Open();
  Queue(id, {.counter = 7});
  Cycle();
  bus->Unplug(id, true);
  EXPECT_EQ(w.connected, 0);
  const std::size_t written = bus->OutputCount(id);
  Cycle(3);
  EXPECT_EQ(bus->OutputCount(id), written);
  bus->Plug(id, true);
  EXPECT_EQ(w.connected, 1);
  Cycle();
  EXPECT_EQ(bus->OutputCount(id), written + 1);
}

// A pendant plugged in only after start-up is found by the arrival.
TEST_F(LinkTest, PendantArrivingAfterStartIsDiscovered) {
  PendantWindow& w = Open();
  EXPECT_EQ(w.connected, 0);
  // Something else arrives first: still nothing to connect to, and no
  // pretence of a connection without handles.
  bus->ArriveDevice("/dev/keyboard", 0x046D, 0x0001, true);
  EXPECT_EQ(w.connected, 0);
  EXPECT_EQ(w.readHandle, kInvalidHandle);
  EXPECT_EQ(w.writeHandle, kInvalidHandle);
  const int id = bus->ArriveDevice(kPendantPath, kPendantVendorId, kPendantProductId, true);
  EXPECT_EQ(w.connected, 1);
  EXPECT_EQ(w.devicePath, kPendantPath);
  EXPECT_EQ(bus->OpenHandles(id), 3u);
  EXPECT_EQ(bus->Registrations(), 1u);
  Queue(id, {.counter = 1});
  Cycle();
  EXPECT_EQ(bus->OutputCount(id), 1u);
}

// The pendant comes back under another path: the known path fails, so the
// search by ids runs again and finds it.
TEST_F(LinkTest, PendantReturningUnderNewPathIsFoundAgain) {
  const int first = AddPendant("/dev/p-old");
  PendantWindow& w = Open();
  bus->Unplug(first, true);
  ASSERT_EQ(w.connected, 0);
  const int second = bus->ArriveDevice("/dev/p-new", kPendantVendorId, kPendantProductId, true);
  EXPECT_EQ(w.connected, 1);
  EXPECT_EQ(w.devicePath, "/dev/p-new");
  EXPECT_EQ(bus->OpenHandles(first), 0u);  // the old query handle went too
  EXPECT_EQ(bus->OpenHandles(second), 3u);
}

// Another device given the pendant's path after the pendant left (hidraw
// reuses its node numbers) is closed again, never read, written or decoded;
// the link waits for the pendant itself.
TEST_F(LinkTest, StrangerOnThePendantsPathIsNotThePendant) {
  for (bool removalSeen : {true, false}) {
    SCOPED_TRACE(removalSeen ? "removal seen" : "removal missed");
    bus->Reset();
    const int id = AddPendant();
    PendantWindow& w = Open();
    bus->Unplug(id, removalSeen);
    const int keyboard = bus->ArriveDevice(kPendantPath, 0x046D, 0xC31C, true);
    EXPECT_EQ(w.connected, 0);
    EXPECT_EQ(bus->OpenHandles(keyboard), 0u);
    // Its Enter key would read as the E-stop bit.
    const std::vector<uint8_t> enter = {0, 0x28, 0, 0x20, 0, 0, 0, 0};
    bus->QueueInput(keyboard, enter.data(), enter.size());
    host.Clear();
    Cycle(3);
    EXPECT_EQ(bus->OutputCount(keyboard), 0u);
    EXPECT_EQ(bus->ReadsStarted(keyboard), 0u);
    EXPECT_TRUE(host.calls.empty());
    const int back =
        bus->ArriveDevice("/dev/virtual/hid-pendant1", kPendantVendorId, kPendantProductId, true);
    EXPECT_EQ(w.connected, 1);
    EXPECT_EQ(bus->OpenHandles(back), 3u);
    EXPECT_EQ(bus->OpenHandles(keyboard), 0u);
  }
}

TEST_F(LinkTest, ArrivalWithPendantGoneStaysDisconnected) {
  const int id = AddPendant();
  PendantWindow& w = Open();
  bus->Unplug(id, false);  // gone without its removal message
  bus->ArriveDevice("/dev/mouse", 0x046D, 0xC077, true);
  EXPECT_EQ(w.connected, 0);
  EXPECT_EQ(w.readHandle, kInvalidHandle);
  EXPECT_EQ(w.writeHandle, kInvalidHandle);
  host.Clear();
  Cycle(2);
  EXPECT_TRUE(host.calls.empty());
}

// However the link goes (its removal message, or any arrival after a removal
// that was missed), a running jog ends, a 205 owed is paid and held counts
// are dropped: once the pendant is back nothing of the old jog reaches the
// host, and the next jog starts afresh.
TEST_F(LinkTest, LinkLossStopsARunningJog) {
  enum class Before { Nothing, Velocity, VelocityAlt, Automatic, HeldCounts, OwedOnly };
  struct Case {
    const char* name;
    Before before;
    bool missedRemoval;
    int endjogs;
    int releases;
  };
  const std::vector<Case> cases = {
      {"no jog", Before::Nothing, false, 0, 0},
      {"continuous jog", Before::Velocity, false, 1, 0},
      {"continuous jog owing 205", Before::VelocityAlt, false, 1, 1},
      {"205 owed without a jog", Before::OwedOnly, false, 0, 1},
      {"automatic jog", Before::Automatic, false, 1, 0},
      {"step jog holding counts", Before::HeldCounts, false, 0, 0},
      {"continuous jog, removal missed", Before::VelocityAlt, true, 1, 1},
      {"automatic jog, removal missed", Before::Automatic, true, 1, 0},
  };
  host.ReadyToJog();
  const std::size_t stopZ = host::JogRecordField(2, host::offset::kJogStopRequest);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool velocity = c.before == Before::Velocity || c.before == Before::VelocityAlt;
    Module().settings.AutoChangeSens = c.before == Before::Automatic ? 3 : 0;
    host.led[host::code::kLedAltJog] = c.before == Before::VelocityAlt;
    // A full move queue holds the step jog's counts.
    host.dro[host::code::kDroMoveLimit] = c.before == Before::HeldCounts ? 25.0 : 3.0;
    bus->Reset();
    const int id = AddPendant();
    PendantWindow& w = Open();
    sim::InputFields f{.axisSel = 3, .mode = 1, .stepSel = velocity ? 2 : 1};
    Queue(id, f);
    Cycle();
    for (int i = 0; i < 2 && c.before != Before::Nothing && c.before != Before::OwedOnly; ++i) {
      f.counter += 5;
      f.speed = c.before == Before::Automatic ? 200 : 40;
      Queue(id, f);
      Cycle();
    }
    // No report sequence leaves a 205 owed without a jog (a reversal or a
    // stop pays it at once); the link's end must still pay it.
    if (c.before == Before::OwedOnly) w.jogStarted = w.altJogPressed = true;
    host.Clear();
    host.Set<uint8_t>(host.blockA, stopZ, 0);
    if (c.missedRemoval) {
      bus->Unplug(id, false);
      bus->ArriveDevice("/dev/virtual/hid-mouse", 0x046D, 0xC077, true);
    } else {
      bus->Unplug(id, true);
    }
    EXPECT_EQ(w.connected, 0);
    EXPECT_EQ(CountOf(host.calls, "Code \"ENDJOG\""), c.endjogs);
    EXPECT_EQ(CountOf(host.calls, "DoButton 205"), c.releases);
    EXPECT_EQ(host.Get<uint8_t>(host.blockA, stopZ), c.endjogs);

    // A second loss finds nothing left to end.
    host.Clear();
    bus->Plug(id, true);
    bus->Unplug(id, true);
    EXPECT_TRUE(host.calls.empty());
    host.dro[host::code::kDroMoveLimit] = 3.0;
    bus->Plug(id, true);
    f.speed = 0;
    Queue(id, f);
    Cycle(3);
    // ENDJOG may come again (the wheel is still); no move, and no 205 owed.
    EXPECT_TRUE(Only(host.calls, {"Code \"G91G1", "DoButton 205"}).empty());
    host.Clear();
    host.led[host::code::kLedAltJog] = true;
    f.stepSel = 2;
    for (int i = 0; i < 2; ++i) {
      f.counter += 5;
      f.speed = 40;
      Queue(id, f);
      Cycle();
    }
    EXPECT_EQ(Only(host.calls, {"DoButton 204", "Code \"DOJOG\""}),
              (std::vector<std::string>{"DoButton 204", "Code \"DOJOG\"", "Code \"DOJOG\""}));
    window.reset();
  }
  Module().settings.AutoChangeSens = 0;
}

// Another device leaving or arriving while the pendant stays: the jog and
// its wheel go on as if nothing happened.
TEST_F(LinkTest, AnotherDeviceLeavesTheJogRunning) {
  for (const bool arrives : {false, true}) {
    SCOPED_TRACE(arrives ? "arrival" : "removal");
    bus->Reset();
    host.Clear();
    host.ReadyToJog();
    host.led[host::code::kLedAltJog] = true;
    const int id = AddPendant();
    const int other = bus->AddDevice("/dev/mouse", 0x046D, 0xC077);
    Open();
    sim::InputFields f{.axisSel = 1, .mode = 1, .stepSel = 2};
    for (int i = 0; i < 3; ++i, f.counter += 5, f.speed = 40) {
      Queue(id, f);
      Cycle();
    }
    ASSERT_EQ(CountOf(host.calls, "Code \"DOJOG\""), 2);
    host.Clear();
    bus->Unplug(other, true);
    if (arrives) bus->Plug(other, true);
    for (int i = 0; i < 2; ++i, f.counter += 5) {
      Queue(id, f);
      Cycle();
    }
    EXPECT_EQ(Only(host.calls, {"Code", "DoButton"}),
              (std::vector<std::string>{"Code \"DOJOG\"", "Code \"DOJOG\""}));
    window.reset();
  }
}

// The turn after a replug or after the switch is a new one: its first jog
// is as fast as a fresh start at that wheel speed, not the old turn's.
TEST_F(LinkTest, ReplugOrSwitchStartsANewTurn) {
  host.ReadyToJog();
  const std::size_t speedX = host::JogRecordField(0, host::offset::kJogSpeed);
  for (const char* how : {"fresh", "replug", "switch"}) {
    SCOPED_TRACE(how);
    bus->Reset();
    const int id = AddPendant();
    Open();
    sim::InputFields f{.axisSel = 1, .mode = 1, .stepSel = 2};
    Queue(id, f);
    Cycle();
    for (int i = 0; std::string(how) != "fresh" && i < 12; ++i) {
      f.counter += 5;
      f.speed = 200;
      Queue(id, f);
      Cycle();
    }
    if (std::string(how) == "replug") {
      bus->Unplug(id, true);
      bus->Plug(id, true);
    } else if (std::string(how) == "switch") {
      f.enable = 1;
      Queue(id, f);
      Cycle(2);
      f.enable = 0;
    }
    f.speed = 8;
    Queue(id, f);
    Cycle();
    f.counter += 2;
    Queue(id, f);
    Cycle();
    // 1.82 x 8 / 400 x 3 / 3 of the 12000 limit (VelocityInAuto 0).
    EXPECT_EQ(host.Get<int32_t>(host.blockA, speedX), 436);
    window.reset();
  }
}

// Through the entry points and the host window's timer: one exchange per
// 25 ms, one timer however many arrivals, everything released at the stop.
TEST(LinkLifetime, EntryPointsDriveTheCycle) {
  sim::InProcessHost host;
  TestHostWindow hostWindow;
  auto* bus = KM4R_VirtualBus();
  bus->Reset();
  const int id = bus->AddDevice(kPendantPath, kPendantVendorId, kPendantProductId);
  host.window = hostWindow.Handle();
  auto b = host.Blocks();
  ASSERT_TRUE(InitControl(b.a, b.b, b.c, b.d));
  PostInitControl();
  EXPECT_EQ(hostWindow.TimerCount(), 1u);
  // Each cycle writes one report; on a real-time host the number of cycles
  // in a span varies, so the count is taken from the host window.
  hostWindow.Advance(100);
  const uint64_t cycles = hostWindow.TimerMessages();
  EXPECT_GT(cycles, 0u);
  EXPECT_EQ(bus->OutputCount(id), cycles);
  bus->ArriveDevice("/dev/mouse", 0x046D, 0xC077, true);
  bus->Unplug(id, true);
  bus->Plug(id, true);
  EXPECT_EQ(hostWindow.TimerCount(), 1u);
  hostWindow.Advance(50);
  EXPECT_GT(hostWindow.TimerMessages(), cycles);
  EXPECT_EQ(bus->OutputCount(id), hostWindow.TimerMessages());
  StopPlug();
  EXPECT_EQ(hostWindow.TimerCount(), 0u);
  EXPECT_EQ(bus->OpenHandles(id), 0u);
  EXPECT_EQ(bus->Registrations(), 0u);
  bus->Reset();
}

}  // namespace
}  // namespace km4r::test
