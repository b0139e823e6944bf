#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/host/in_process_host.h"
#include "bench/host/virtual_pendant.h"
#include "pendant/pendant_window.h"
#include "platform/module_info.h"
#include "platform/virtual/virtual_bus.h"
#include "plugin/exports.h"
#include "plugin/module_state.h"
#include "tests/support/test_host_window.h"

namespace km4r {
namespace {

const std::string kSuffix = " Pendant --Harbrook Ver 3.3.0";

// The virtual pendant alone on the bus; its id.
int PendantOnEmptyBus() {
  auto* bus = KM4R_VirtualBus();
  bus->Reset();
  return bus->AddDevice("/dev/virtual/hid-pendant0", kPendantVendorId, kPendantProductId);
}

TEST(ModuleFileTitle, StripsDirectoryAndExtension) {
  const struct {
    const char* path;
    const char* title;
  } rows[] = {
      {"/opt/host/plugins/KM4R.so", "KM4R"},
      {"C:\\Host\\PlugIns\\KM4R.dll", "KM4R"},
      {"Foo.dll", "Foo"},
      {"/dir.with.dots/Foo", "Foo"},
      {"/a/b/Foo.bar.dll", "Foo.bar"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(platform::FileTitleFromPath(row.path), row.title) << row.path;
}

TEST(SetProName, ReturnsModuleTitleWithVersionText) {
  sim::InProcessHost host;
  const char* name = ::SetProName(platform::HostStringArgument("/nonexistent/dir/profile.xml"));
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::string(name), platform::ModuleFileTitle() + kSuffix);
  EXPECT_EQ(Module().profilePath, "/nonexistent/dir/profile.xml");
}

TEST(SetProName, SecondCallReplacesPathAndReturnsSameName) {
  sim::InProcessHost host;
  const std::string first = ::SetProName(platform::HostStringArgument("/tmp/one.xml"));
  const char* second = ::SetProName(platform::HostStringArgument("/tmp/two.xml"));
  EXPECT_EQ(first, std::string(second));
  EXPECT_EQ(Module().profilePath, "/tmp/two.xml");
}

TEST(SetProName, ArgumentIsReleasedByTheCall) {
  sim::InProcessHost host;
  platform::HostStringArgument arg("/tmp/x.xml");
  ::SetProName(arg);  // the by-value copy is gone when the call returns
  EXPECT_EQ(arg.Value().RefCount(), 1);
}

TEST(Setters, StoreEachCallbackInItsSlot) {
  sim::InProcessHost host;
  ResetModuleState();
  auto doButton = +[](short) {};
  auto setDro = +[](short, double) {};
  auto getDro = +[](short) { return 1.0; };
  auto getLed = +[](short) { return true; };
  auto setLed = +[](short, bool) {};
  auto code = +[](const char*) {};
  ::SetDoButton(doButton);
  ::SetSetDRO(setDro);
  ::SetGetDRO(getDro);
  ::SetGetLED(getLed);
  ::SetSetLED(setLed);
  ::SetCode(code);
  const host::Callbacks& c = Module().callbacks;
  EXPECT_EQ(c.doButton, doButton);
  EXPECT_EQ(c.setDro, setDro);
  EXPECT_EQ(c.getDro, getDro);
  EXPECT_EQ(c.getLed, getLed);
  EXPECT_EQ(c.setLed, setLed);
  EXPECT_EQ(c.code, code);
}

TEST(NoOps, TouchNoState) {
  sim::InProcessHost host;
  test::TestHostWindow window;
  host.window = window.Handle();
  ASSERT_TRUE(
      ::InitControl(host.blockA.data(), host.blockB.data(), host.blockC.data(), host.window));
  const std::vector<unsigned char> a = host.blockA, b = host.blockB, c = host.blockC;
  const TickCounters ticks = Module().ticks;
  PendantWindow* w = Module().window;
  const JogMode jogMode = w->jogMode;
  for (void (*noop)() : {&::DoDwell, &::Reset, &::JogOn, &::JogOff, &::Purge, &::Probe, &::Home})
    noop();
  EXPECT_EQ(host.TotalCallbacks(), 0);
  EXPECT_EQ(host.blockA, a);
  EXPECT_EQ(host.blockB, b);
  EXPECT_EQ(host.blockC, c);
  EXPECT_EQ(std::memcmp(&Module().ticks, &ticks, sizeof ticks), 0);
  EXPECT_EQ(Module().window, w);
  EXPECT_EQ(w->jogMode, jogMode);
  ::StopPlug();
}

TEST(Lifecycle, InitControlCreatesChildWindowAndStopPlugDestroysIt) {
  sim::InProcessHost host;
  test::TestHostWindow window;
  ::SetProName(platform::HostStringArgument(""));
  EXPECT_TRUE(
      ::InitControl(host.blockA.data(), host.blockB.data(), host.blockC.data(), window.Handle()));
  ASSERT_NE(Module().window, nullptr);
  EXPECT_TRUE(Module().window->IsCreated());
  EXPECT_EQ(window.ChildCount(), 1u);
  EXPECT_EQ(Module().blocks.a, host.blockA.data());
  EXPECT_EQ(Module().blocks.d, window.Handle());

  ::PostInitControl();
  EXPECT_EQ(window.TimerCount(), 1u);  // the cycle timer runs even without a pendant
  window.Advance(1000);
  // A second of a 25 ms timer. A real clock on a busy (or emulated) machine
  // delivers ticks late, never early; the rate itself is checked natively by
  // win32_module_tests.
  if (test::TestHostWindow::kVirtualClock) {
    EXPECT_EQ(window.TimerMessages(), 40u);
  } else {
    EXPECT_GE(window.TimerMessages(), 1u);
    EXPECT_LE(window.TimerMessages(), 41u);
  }
  const uint64_t delivered = window.TimerMessages();

  ::StopPlug();
  EXPECT_EQ(Module().window, nullptr);
  EXPECT_EQ(window.ChildCount(), 0u);
  EXPECT_EQ(window.TimerCount(), 0u);
  window.Advance(100);
  EXPECT_EQ(window.TimerMessages(), delivered);
}

// However the plug-in goes while a continuous jog runs (StopPlug, or the host
// destroying its window, which takes the plug-in's window and timer with it),
// the jog gets its "ENDJOG" and the 204 pressed at its start its 205 at once,
// and the host hears nothing after.
TEST(Lifecycle, GoingEndsTheRunningJog) {
  const struct {
    const char* name;
    bool destroyHostWindow;
  } rows[] = {{"StopPlug", false}, {"host window destroyed", true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    sim::InProcessHost host;
    auto window = std::make_unique<test::TestHostWindow>();
    auto* bus = KM4R_VirtualBus();
    const int pendant = PendantOnEmptyBus();
    host.led[host::code::kLedJogEnabled] = true;
    host.led[host::code::kLedAltJog] = true;
    host.Set(host.blockC, host::offset::kAxisVelocityLimit, int32_t{1000});
    ::SetProName(platform::HostStringArgument(""));
    ::InitControl(host.blockA.data(), host.blockB.data(), host.blockC.data(), window->Handle());
    ::PostInitControl();
    // Velocity jog on X, the wheel turning for longer than the test runs.
    for (int i = 0; i < 400; ++i) {
      const uint8_t r[8] = {0, static_cast<uint8_t>(i), 60, 0x41, 2, 0, 0, 0};
      bus->QueueInput(pendant, r, sizeof r);
    }
    for (int i = 0;
         i < 40 && std::count(host.calls.begin(), host.calls.end(), "Code \"DOJOG\"") < 2; ++i)
      window->Advance(25);
    ASSERT_GE(std::count(host.calls.begin(), host.calls.end(), "Code \"DOJOG\""), 2);
    ASSERT_EQ(host.calls.back(), "Code \"DOJOG\"");
    host.Clear();
    if (row.destroyHostWindow) {
      window.reset();
    } else {
      ::StopPlug();
    }
    EXPECT_EQ(host.calls, (std::vector<std::string>{"Code \"ENDJOG\"", "DoButton 205"}));
    EXPECT_EQ(
        host.Get<uint8_t>(host.blockA, host::JogRecordField(0, host::offset::kJogStopRequest)), 1);
    EXPECT_EQ(bus->OpenHandles(pendant), 0u);
    host.Clear();
    if (window != nullptr) window->Advance(100);
    ::StopPlug();
    EXPECT_TRUE(host.calls.empty());
    bus->Reset();
  }
}

// KM4R_PendantStatus after each report in turn: the axis the wheel jogs
// follows the selectors, and every report that is not the pendant's is
// counted and leaves the one in effect.
TEST(Lifecycle, StatusFollowsTheSelectorsAndCountsBadReports) {
  const struct {
    const char* name;
    std::vector<uint8_t> report;  // empty: the pendant is unplugged
    int32_t jogAxis;
    uint32_t errors;
  } rows[] = {
      {"step jog on X", {0, 0, 0, 0x41, 1, 0, 0, 0}, 0, 0},
      {"step jog on Z", {0, 0, 0, 0x43, 1, 0, 0, 0}, 2, 0},
      {"feed override by the step selector", {0, 0, 0, 0x43, 5, 0, 0, 0}, -1, 0},
      {"rate jog on Y, second mode", {0, 0, 0, 0x82, 3, 0, 0, 0}, 1, 0},
      {"feed override by the axis selector", {0, 0, 0, 0x84, 3, 0, 0, 0}, -1, 0},
      {"short", {0, 0, 0, 0x41, 1, 0, 0}, -1, 1},
      {"report id 1", {1, 0, 0, 0x41, 1, 0, 0, 0}, -1, 2},
      {"long", {0, 0, 0, 0x41, 1, 0, 0, 0, 0}, -1, 3},
      {"step jog on X again", {0, 0, 0, 0x41, 1, 0, 0, 0}, 0, 3},
      {"unplugged", {}, -1, 3},
  };
  sim::InProcessHost host;
  test::TestHostWindow window;
  auto* bus = KM4R_VirtualBus();
  const int pendant = PendantOnEmptyBus();
  ::SetProName(platform::HostStringArgument(""));
  ::InitControl(host.blockA.data(), host.blockB.data(), host.blockC.data(), window.Handle());
  ::PostInitControl();
  for (const auto& row : rows) {
    if (row.report.empty()) {
      bus->Unplug(pendant, true);
    } else {
      bus->QueueInput(pendant, row.report.data(), row.report.size());
    }
    window.Advance(25);
    KM4R_PendantStatusRecord status{99, 99};
    ::KM4R_PendantStatus(&status);
    EXPECT_EQ(status.jogAxis, row.jogAxis) << row.name;
    EXPECT_EQ(status.decodeErrors, row.errors) << row.name;
  }
  ::StopPlug();
  bus->Reset();
}

TEST(Lifecycle, SettingsAreLoadedByPostInitControl) {
  sim::InProcessHost host;
  test::TestHostWindow window;
  ::SetProName(platform::HostStringArgument(""));
  ::InitControl(host.blockA.data(), host.blockB.data(), host.blockC.data(), window.Handle());
  EXPECT_EQ(Module().settings.StepJogRate, 0);
  ::PostInitControl();
  EXPECT_EQ(Module().settings.StepJogRate, 100);
  EXPECT_EQ(Module().settings.VelocityInAuto, 5);
  ::StopPlug();
}

// Calls the host should not make, in orders it should not make them: none may
// crash, and each leaves the plug-in usable.
TEST(OutOfOrder, CallsNeverCrash) {
  struct Case {
    const char* name;
    void (*run)(sim::InProcessHost&, test::TestHostWindow&);
  };
  const Case cases[] = {
      {"PostInitControl without InitControl",
       [](sim::InProcessHost&, test::TestHostWindow&) {
         ::PostInitControl();
         EXPECT_EQ(Module().window, nullptr);
       }},
      {"StopPlug twice",
       [](sim::InProcessHost& h, test::TestHostWindow& w) {
         ::InitControl(h.blockA.data(), h.blockB.data(), h.blockC.data(), w.Handle());
         ::PostInitControl();
         ::StopPlug();
         ::StopPlug();
         EXPECT_EQ(Module().window, nullptr);
       }},
      {"StopPlug before anything",
       [](sim::InProcessHost&, test::TestHostWindow&) { ::StopPlug(); }},
      {"Config before anything",
       [](sim::InProcessHost&, test::TestHostWindow&) {
         ::Config();
         EXPECT_EQ(Module().settings.StepSize1, 2);
       }},
      {"Update before anything",
       [](sim::InProcessHost&, test::TestHostWindow&) {
         ::Update();
         EXPECT_EQ(Module().ticks.UpdateSequence, 2);
       }},
      {"Update and timers after StopPlug",
       [](sim::InProcessHost& h, test::TestHostWindow& w) {
         ::InitControl(h.blockA.data(), h.blockB.data(), h.blockC.data(), w.Handle());
         ::PostInitControl();
         ::StopPlug();
         ::Update();
         w.Advance(100);
         ::Config();
       }},
      {"InitControl with null blocks and no window",
       [](sim::InProcessHost&, test::TestHostWindow&) {
         EXPECT_TRUE(::InitControl(nullptr, nullptr, nullptr, nullptr));
         ::PostInitControl();
         ::StopPlug();
       }},
      {"InitControl twice",
       [](sim::InProcessHost& h, test::TestHostWindow& w) {
         ::InitControl(h.blockA.data(), h.blockB.data(), h.blockC.data(), w.Handle());
         ::InitControl(h.blockA.data(), h.blockB.data(), h.blockC.data(), w.Handle());
         EXPECT_EQ(w.ChildCount(), 1u);
         ::StopPlug();
         EXPECT_EQ(w.ChildCount(), 0u);
       }},
      {"PostInitControl twice",
       [](sim::InProcessHost& h, test::TestHostWindow& w) {
         ::InitControl(h.blockA.data(), h.blockB.data(), h.blockC.data(), w.Handle());
         ::PostInitControl();
         ::PostInitControl();
         EXPECT_EQ(w.TimerCount(), 1u);
         ::StopPlug();
       }},
      {"InitControl and PostInitControl twice",
       [](sim::InProcessHost& h, test::TestHostWindow& w) {
         ::SetProName(platform::HostStringArgument(""));
         for (int i = 0; i < 2; ++i) {
           ::InitControl(h.blockA.data(), h.blockB.data(), h.blockC.data(), w.Handle());
           ::PostInitControl();
           ::SetProName(platform::HostStringArgument(""));
         }
         EXPECT_EQ(w.ChildCount(), 1u);
       }},
      {"PostInitControl three times with a pendant",
       [](sim::InProcessHost& h, test::TestHostWindow& w) {
         ::InitControl(h.blockA.data(), h.blockB.data(), h.blockC.data(), w.Handle());
         for (int i = 0; i < 3; ++i) ::PostInitControl();
         // Query, read and write handle, once.
         EXPECT_EQ(KM4R_VirtualBus()->OpenHandles(0), 3u);
       }},
      {"no callbacks set",
       [](sim::InProcessHost& h, test::TestHostWindow& w) {
         Module().callbacks = host::Callbacks{};
         ::InitControl(h.blockA.data(), h.blockB.data(), h.blockC.data(), w.Handle());
         ::PostInitControl();
         w.Advance(250);
         ::StopPlug();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::InProcessHost host;
    test::TestHostWindow window;
    auto* bus = KM4R_VirtualBus();
    const int pendant = PendantOnEmptyBus();
    c.run(host, window);
    // Whatever the sequence, the stop leaves no device handle open.
    ::StopPlug();
    EXPECT_EQ(bus->OpenHandles(pendant), 0u);
    EXPECT_EQ(bus->Registrations(), 0u);
    bus->Reset();
  }
}

// The host's callbacks, recorded by name; the armed one calls one entry point
// back, once, from inside the plug-in's cycle.
namespace reentry {

sim::InProcessHost* host = nullptr;
test::TestHostWindow* window = nullptr;

struct Arm : sim::InProcessHost::Hooks {
  std::vector<std::string> calls;
  const char* callback = "";
  void (*entry)() = nullptr;
  bool fired = false;
  std::size_t callsAtFire = 0;
  std::size_t outputsAtFire = 0;
  int pendant = -1;

  void Fire(const char* name) {
    calls.push_back(name);
    if (fired || std::strcmp(callback, name) != 0) return;
    fired = true;
    entry();
    callsAtFire = calls.size();
    outputsAtFire = KM4R_VirtualBus()->OutputCount(pendant);
  }
  void DoButton(short) override { Fire("DoButton"); }
  void SetDro(short, double) override { Fire("SetDRO"); }
  void GetDro(short) override { Fire("GetDRO"); }
  void GetLed(short) override { Fire("GetLED"); }
  void Code(const char*) override { Fire("Code"); }
};

}  // namespace reentry

// Every entry point called from inside every callback the cycle makes: the
// plug-in never touches freed memory (run under the sanitizers), a StopPlug
// ends all traffic to the host and the pendant at once, and no sequence leaves
// a device handle open.
TEST(Reentry, EntryPointsFromInsideCallbacks) {
  struct Entry {
    const char* name;
    void (*call)();
  };
  const Entry entries[] = {
      {"StopPlug", [] { ::StopPlug(); }},
      {"InitControl",
       [] {
         auto& h = *reentry::host;
         ::InitControl(h.blockA.data(), h.blockB.data(), h.blockC.data(),
                       reentry::window->Handle());
       }},
      {"PostInitControl", [] { ::PostInitControl(); }},
      {"SetProName", [] { ::SetProName(platform::HostStringArgument("")); }},
      {"Config", [] { ::Config(); }},
      {"Update", [] { ::Update(); }},
      {"Reset", [] { ::Reset(); }},
      {"SetCode", [] { ::SetCode(Module().callbacks.code); }},
  };
  const char* callbacks[] = {"DoButton", "SetDRO", "GetDRO", "GetLED", "Code"};
  for (const Entry& entry : entries) {
    for (const char* callback : callbacks) {
      SCOPED_TRACE(std::string(entry.name) + " from " + callback);
      sim::VirtualPendant device("/dev/virtual/hid-pendant0");
      sim::InProcessHost host;
      test::TestHostWindow window;
      reentry::Arm arm;
      arm.pendant = device.id;
      arm.callback = callback;
      arm.entry = entry.call;
      host.hooks = &arm;
      host.led[host::code::kLedJogEnabled] = true;
      reentry::host = &host;
      reentry::window = &window;
      host.Start(window.Handle());
      // Step jog on Y: the first report moves the axis selector (button,
      // "ENDJOG"), the second brings counts (LEDs, DROs, a move).
      const uint8_t reports[][8] = {{0, 0, 0, 0x82, 1, 0, 0, 0}, {0, 3, 9, 0x82, 1, 0, 0, 0}};
      for (const auto& r : reports) device.bus->QueueInput(device.id, r, sizeof r);
      window.Advance(100);
      EXPECT_TRUE(arm.fired);
      if (entry.call == entries[0].call) {
        EXPECT_EQ(arm.calls.size(), arm.callsAtFire);
        EXPECT_EQ(device.bus->OutputCount(device.id), arm.outputsAtFire);
        EXPECT_EQ(window.ChildCount(), 0u);
      }
      ::StopPlug();
      host.hooks = nullptr;
      EXPECT_EQ(window.ChildCount(), 0u);
      EXPECT_EQ(window.TimerCount(), 0u);
      EXPECT_EQ(device.bus->OpenHandles(device.id), 0u);
      EXPECT_EQ(device.bus->Registrations(), 0u);
    }
  }
}

TEST(SelfRegistration, AnswersForAnEmptyClassList) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_NE(::DllGetClassObject(nullptr, nullptr, &out), 0);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(::DllCanUnloadNow(), 0);
}

}  // namespace
}  // namespace km4r
