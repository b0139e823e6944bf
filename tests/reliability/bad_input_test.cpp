// Bad input the other suites leave out, each with its safe outcome: reports
// no selector table names, profiles that are empty, very large or out of
// reach, a lifetime run twice, the pendant pulled with a read outstanding,
// and the two faults the fuzzer found.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "bench/host/in_process_host.h"
#include "pendant/pendant_window.h"
#include "platform/clock.h"
#include "platform/host_string.h"
#include "platform/virtual/virtual_bus.h"
#include "plugin/exports.h"
#include "plugin/module_state.h"
#include "settings/pendant_settings.h"
#include "settings/profile_store.h"
#include "tests/fuzz/host_text.h"
#include "tests/settings/test_files.h"
#include "tests/support/test_host_window.h"

namespace km4r::test {
namespace {

constexpr const char* kPath = "/dev/virtual/hid-reliability";

std::vector<uint8_t> Report(int counter, int speed, int axisSel, int enable, int estop, int mode,
                            int stepSel) {
  std::vector<uint8_t> r(kInputReportSize, 0);
  r[1] = static_cast<uint8_t>(counter);
  r[2] = static_cast<uint8_t>(speed);
  r[3] =
      static_cast<uint8_t>((axisSel & 15) | (enable & 1) << 4 | (estop & 1) << 5 | (mode & 3) << 6);
  r[4] = static_cast<uint8_t>(stepSel & 0x7F);
  return r;
}

// The plug-in running on the virtual pendant through its entry points.
class Running : public ::testing::Test {
 protected:
  Running() : bus(KM4R_VirtualBus()) {
    bus->Reset();
    // Read timing runs on a clock kept in step with the host window's.
    bus->SetClock(&clock);
    id = bus->AddDevice(kPath, kPendantVendorId, kPendantProductId);
    host.window = window.Handle();
    host.led[host::code::kLedJogEnabled] = true;
    host.Set(host.blockC, host::offset::kStepIncrement, 0.001);
    ::SetProName(platform::HostStringArgument(""));
    const host::Blocks b = host.Blocks();
    ::InitControl(b.a, b.b, b.c, b.d);
    ::PostInitControl();
  }
  ~Running() override {
    ::StopPlug();
    bus->Reset();
  }
  PendantWindow& W() { return *Module().window; }
  void Send(const std::vector<uint8_t>& r, int cycles = 1) {
    for (int i = 0; i < cycles; ++i) {
      bus->QueueInput(id, r.data(), r.size());
      Tick(1);
    }
  }
  void Tick(int cycles) {
    for (int i = 0; i < cycles; ++i) {
      clock.Advance(kCyclePeriodMs);
      window.Advance(kCyclePeriodMs);
      ::Update();
    }
  }
  std::vector<uint8_t> LastOutput() {
    std::vector<uint8_t> out(kOutputReportSize, 0);
    bus->LastOutput(id, out.data(), out.size());
    return out;
  }

  sim::InProcessHost host;
  TestHostWindow window;
  platform::VirtualClock clock;
  platform::VirtualBus* bus;
  int id = -1;
};

// Selector positions no table names keep the jog mode and the axis, and the
// wheel turned meanwhile moves nothing.
TEST_F(Running, UnnamedSelectorPositionsChangeNothing) {
  struct Case {
    const char* name;
    int mode, axisSel, stepSel;
  };
  const Case cases[] = {
      {"mode field 0, step jog selectors", 0, 1, 1},
      {"axis selector 0", 1, 0, 7},
      {"axis selector 15, step selector 127", 2, 15, 127},
      {"step selector 0 in mode 3", 3, 0, 0},
      {"step selector 9 in mode 2", 2, 8, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // From a known state: relative step jogging of Y, wheel at rest.
    Send(Report(0, 0, 2, 0, 0, 1, 1), 3);
    ASSERT_EQ(W().jogMode, JogMode::StepJog);
    ASSERT_EQ(W().axisIndex, 1);
    host.Clear();
    // The selectors move to the unnamed position, then the wheel turns.
    Send(Report(0, 0, c.axisSel, 0, 0, c.mode, c.stepSel), 2);
    host.Clear();
    for (int n = 1; n <= 10; ++n) Send(Report(n * 3, 40, c.axisSel, 0, 0, c.mode, c.stepSel));
    Send(Report(30, 0, c.axisSel, 0, 0, c.mode, c.stepSel), 4);
    const bool modeKept = c.mode == 0 || W().jogMode == JogMode::StepJog;
    EXPECT_TRUE(modeKept) << "jogMode " << static_cast<int32_t>(W().jogMode);
    for (const std::string& call : host.calls) {
      MoveText m;
      if (call.rfind("Code \"", 0) == 0) {
        ASSERT_TRUE(ParseHostCode(call.substr(6, call.size() - 7).c_str(), &m)) << call;
        // Still step jogging, the moves go to the axis that was kept.
        if (m.isMove) {
          EXPECT_EQ(m.axis, "XYZAB"[W().axisIndex]) << call;
        }
      }
    }
    const auto out = LastOutput();
    for (int i = 2; i < 18; ++i) EXPECT_TRUE(Printable(out[i])) << "byte " << i;
  }
}

// A setting that went from 0 (no screen) to a value outside the table keeps
// code 0 for its slot: that slot is skipped, button 0 is never pressed.
TEST_F(Running, ScreenSlotWithoutCodeIsSkipped) {
  struct Case {
    int16_t second;
    const char* expected;  // the button the wheel start presses, or nothing
  };
  const Case cases[] = {
      {0, "DoButton 3"}, {99, "DoButton 3"}, {-4, "DoButton 3"}, {5, "DoButton 6"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.second);
    auto& s = Module().settings;
    s.ScreenSel1 = 1;
    s.ScreenSel2 = 0;
    s.ScreenSel3 = 3;
    W().screenSlot = 3;
    // Refreshes the codes with slot 2 at 0, back at slot 1.
    Send(Report(0, 0, 1, 1, 0, 1, 5), 2);
    Send(Report(2, 20, 1, 1, 0, 1, 5));
    Send(Report(2, 0, 1, 1, 0, 1, 5), 4);
    ASSERT_EQ(W().screenSlot, 1);
    s.ScreenSel2 = c.second;
    host.Clear();
    Send(Report(4, 20, 1, 1, 0, 1, 5));
    const auto buttons = std::count_if(host.calls.begin(), host.calls.end(), [](const auto& call) {
      return call.rfind("DoButton ", 0) == 0;
    });
    EXPECT_EQ(buttons, 1);
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), c.expected), host.calls.end());
    EXPECT_EQ(std::find(host.calls.begin(), host.calls.end(), "DoButton 0"), host.calls.end());
    Send(Report(4, 0, 1, 1, 0, 1, 5), 4);
  }
}

// A step increment or feed so large that "%.4f" needs hundreds of digits: the
// move goes out whole or not at all, never cut into a different number.
TEST_F(Running, HugeNumbersMakeWholeMoveTexts) {
  struct Case {
    const char* name;
    double increment, angle, feed;
    int32_t rate;
  };
  const double big = std::numeric_limits<double>::max() / 4;
  const Case cases[] = {
      {"rotated X/Y", big, 30.0, 10.0, 100},
      {"feed from the host and distance", big, 0.0, big, 0},
      {"infinite increment", std::numeric_limits<double>::infinity(), 0.0, 10.0, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host.Set(host.blockC, host::offset::kStepIncrement, c.increment);
    host.Set(host.blockB, host::offset::kRotationAngle, c.angle);
    host.dro[host::code::kDroFeedRate] = c.feed;
    Module().settings.StepJogRate = c.rate;
    Send(Report(0, 0, 1, 0, 0, 1, 1), 3);
    host.Clear();
    Send(Report(3, 20, 1, 0, 0, 1, 1));
    int moves = 0;
    for (const std::string& call : host.calls) {
      if (call.rfind("Code \"G91", 0) != 0) continue;
      ++moves;
      MoveText m;
      EXPECT_TRUE(ParseHostCode(call.substr(6, call.size() - 7).c_str(), &m))
          << call.substr(0, 80) << "...";
    }
    EXPECT_EQ(moves, 1);
    Send(Report(3, 0, 1, 0, 0, 1, 1), 4);
  }
}

// The pendant pulled while a read waits for its report, with and without the
// removal message: the cycle goes on, a jog in progress ends, and the pendant
// plugged back in is read again.
TEST_F(Running, PendantPulledWithReadOutstanding) {
  for (bool notify : {true, false}) {
    SCOPED_TRACE(notify ? "removal message" : "no message");
    bus->SetLatency(id, 12);  // longer than the cycle waits: the read stays outstanding
    Send(Report(0, 0, 1, 0, 0, 1, 2), 4);
    // A slow read completes one cycle late, so reports queue up behind it.
    for (int n = 1; n <= 60 && !(W().jogStarted && W().readOutstanding); ++n)
      Send(Report(n * 4, 90, 1, 0, 0, 1, 2));
    ASSERT_TRUE(W().readOutstanding);
    ASSERT_TRUE(W().jogStarted);
    const std::size_t readsBefore = bus->ReadsStarted(id);
    host.Clear();
    bus->Unplug(id, notify);
    Tick(20);
    // The discovery handle stays open for the window's lifetime; without the
    // message the report handles stay open too, failing every read.
    EXPECT_EQ(bus->OpenHandles(id), notify ? 1u : 3u);
    EXPECT_FALSE(W().readOutstanding);
    std::string lastJogCall;
    for (const std::string& call : host.calls)
      if (call == "Code \"DOJOG\"" || call == "Code \"ENDJOG\"") lastJogCall = call;
    EXPECT_EQ(lastJogCall, "Code \"ENDJOG\"");
    bus->SetLatency(id, 0);
    bus->Plug(id, true);
    EXPECT_EQ(W().connected, 1);
    Send(Report(77, 0, 3, 0, 0, 1, 1), 2);
    EXPECT_GT(bus->ReadsStarted(id), readsBefore);
    EXPECT_EQ(W().axisIndex, 2);
  }
}

// StopPlug and a second lifetime in the same process, as a host that
// restarts its machine does: everything of the first is released.
TEST(Lifetime, RunsTwiceInOneProcess) {
  sim::InProcessHost host;
  TestHostWindow window;
  auto* bus = KM4R_VirtualBus();
  bus->Reset();
  const int id = bus->AddDevice(kPath, kPendantVendorId, kPendantProductId);
  host.window = window.Handle();
  const host::Blocks b = host.Blocks();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ::SetProName(platform::HostStringArgument(""));
    ::InitControl(b.a, b.b, b.c, b.d);
    ::PostInitControl();
    window.Advance(250);
    EXPECT_EQ(Module().window->connected, 1);
    ::StopPlug();
    EXPECT_EQ(bus->OpenHandles(id), 0u);
    EXPECT_EQ(bus->Registrations(), 0u);
    EXPECT_EQ(window.TimerCount(), 0u);
    EXPECT_EQ(window.ChildCount(), 0u);
  }
  bus->Reset();
}

class Profiles : public ::testing::Test {
 protected:
  Profiles() : path(dir.Path("profile.xml")) { UseProfile(path); }
  ~Profiles() override { UseProfile(""); }
  ScratchDir dir;
  std::string path;
};

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// A valid profile just under the size limit is read and saved whole, in
// bounded time and memory.
TEST_F(Profiles, FiftyMegabyteProfileLoadsAndSaves) {
  std::string doc = "<profile>\n";
  const std::string line = "  <Entry attribute=\"some host value\">1234567890</Entry>\n";
  while (doc.size() < (std::size_t{50} << 20)) doc += line;
  doc += "  <Quorvix_KM4R_Pendant><StepSize1>4</StepSize1></Quorvix_KM4R_Pendant>\n</profile>\n";
  WriteFile(path, doc);
  const long rssBefore = PeakRssKb();
  // Processor time, not wall time: other work on the machine only delays it.
  const std::clock_t start = std::clock();
  PendantSettings s;
  {
    ProfileStore store;
    LoadPendantSettings(store, s);
    s.StepSize2 = 3;
    SavePendantSettings(store, s);
  }
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  EXPECT_EQ(s.StepSize1, 4);
  const std::string saved = ReadFile(path);
  EXPECT_EQ(saved.compare(0, doc.size() - 100, doc, 0, doc.size() - 100), 0);
  EXPECT_NE(saved.find("<StepSize2>3</StepSize2>"), std::string::npos);
  EXPECT_LT(seconds, 30.0);
  // The file's text and its element tree, then the text read back and its
  // tree: never both documents at once.
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's own bookkeeping grows with every allocation
  EXPECT_LT(PeakRssKb() - rssBefore, 3 * 50 * 1024);
#else
  (void)rssBefore;
#endif
}

// Files that give no profile: defaults, and nothing made or destroyed.
TEST_F(Profiles, UnusableFilesGiveDefaults) {
  struct Case {
    const char* name;
    std::string path;
    bool createEmpty;
    bool createdAfter;  // a fresh profile is written
  };
  const Case cases[] = {
      {"empty file", path, true, true},
      {"inside a missing directory", dir.Path("missing/sub/profile.xml"), false, false},
      {"path names a directory that ends in a slash", dir.Path("") + "/", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(path);
    if (c.createEmpty) WriteFile(c.path, "");
    UseProfile(c.path);
    PendantSettings s;
    {
      ProfileStore store;
      LoadPendantSettings(store, s);
      SavePendantSettings(store, s);
    }
    EXPECT_EQ(s.StepSize1, 2);
    EXPECT_EQ(s.VelocityInAuto, 5);
    EXPECT_EQ(s.Decidigit, 2);
    std::error_code ec;
    EXPECT_EQ(std::filesystem::is_regular_file(c.path, ec), c.createdAfter);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("missing")));
  }
}

}  // namespace
}  // namespace km4r::test
