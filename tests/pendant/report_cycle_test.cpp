// The 25 ms exchange: read timing, the counters kept while disconnected, the
// host sampling and the handwheel baseline of a freshly opened pendant.
#include "pendant/input_words.h"
#include "plugin/exports.h"
#include "tests/pendant/link_fixture.h"

namespace km4r::test {
namespace {

int CounterOf(const PendantWindow& w) {
  return WheelCountByte(w.inputWord0);
}

TEST_F(LinkTest, ReadLatencyDecidesTheCycleThatDecodes) {
  struct Case {
    uint32_t latency;
    bool sameCycle;
  };
  const std::vector<Case> cases = {{0, true}, {3, true}, {5, true}, {6, false}, {7, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.latency);
    bus->Reset();
    bus->SetClock(&clock);
    const int id = AddPendant();
    PendantWindow& w = Open();
    bus->SetLatency(id, c.latency);
    Queue(id, {.counter = 42, .stepSel = 1});
    Queue(id, {.counter = 43, .stepSel = 1});
    Cycle();
    EXPECT_EQ(CounterOf(w), c.sameCycle ? 42 : 0);
    EXPECT_EQ(w.inputReport[1], c.sameCycle ? 42 : 0);  // no half-taken report
    EXPECT_EQ(w.readOutstanding, !c.sameCycle);
    EXPECT_EQ(bus->ReadsStarted(id), 1u);
    Cycle();
    if (c.sameCycle) {
      EXPECT_EQ(bus->ReadsStarted(id), 2u);
    } else {
      // The outstanding read is waited for again, not started anew.
      EXPECT_EQ(CounterOf(w), 42);
      EXPECT_EQ(bus->ReadsStarted(id), 1u);
    }
    // Output goes out every connected cycle, read or no read.
    EXPECT_EQ(bus->OutputCount(id), 2u);
  }
}

TEST_F(LinkTest, NoReportKeepsTheReportInEffect) {
  const int id = AddPendant();
  PendantWindow& w = Open();
  Queue(id, {.counter = 9, .axisSel = 2, .mode = 1, .stepSel = 3});
  Cycle();
  const uint32_t word0 = w.inputWord0;
  const uint32_t word1 = w.inputWord1;
  Cycle(3);  // nothing queued: the read stays pending, the old report decodes
  EXPECT_EQ(w.inputWord0, word0);
  EXPECT_EQ(w.inputWord1, word1);
  EXPECT_EQ(w.savedWord0, word0);
  EXPECT_EQ(w.wheelSteps, 0);
  bus->Unplug(id, false);  // reads now fail outright
  Cycle(2);
  EXPECT_EQ(w.inputWord0, word0);
  EXPECT_FALSE(w.readOutstanding);
}

// However many host Update calls fall between two reports (none, a few, or a
// pile-up while the UI thread was stalled), a continuous jog the wheel started
// gets its "ENDJOG", and its 205 when 204 was pressed, once the wheel stops.
TEST_F(LinkTest, EveryContinuousJogEndsWhenTheWheelStops) {
  struct Mode {
    const char* name;
    int stepSel;
  };
  struct Pace {
    const char* name;
    std::vector<int> updates;  // before cycle i; the last entry repeats
  };
  const Mode modes[] = {{"velocity", 2}, {"rate", 3}, {"automatic", 1}};
  const std::vector<Pace> paces = {
      {"0 per cycle", {0}},
      {"1 per cycle", {1}},
      {"2 per cycle", {2}},
      {"3 per cycle", {3}},
      {"10 per cycle", {10}},
      // The report in which the speed byte drops comes after a stall.
      {"stall as the wheel stops", {1, 1, 1, 1, 1, 1, 1, 1, 1, 40, 1}},
      // Timer messages caught up back to back, then the Update calls.
      {"stalled cycles, then updates", {1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 12, 1}},
  };
  constexpr int kTurning = 8;
  constexpr int kStill = 8;
  for (const Mode& mode : modes) {
    for (const Pace& pace : paces) {
      SCOPED_TRACE(std::string(mode.name) + ", " + pace.name);
      bus->Reset();
      bus->SetClock(&clock);
      window.reset();
      ResetModuleState();
      host.Install();
      host.Clear();
      host.Set<uint8_t>(host.blockA, host::JogRecordField(0, host::offset::kJogStopRequest), 0);
      host.led[host::code::kLedJogEnabled] = true;
      host.led[host::code::kLedAltJog] = true;
      host.dro[host::code::kDroJogRate] = 50.0;
      host.Set<int32_t>(host.blockC, host::offset::kAxisVelocityLimit, 1000);
      Module().settings.DelaySteps = 10;
      Module().settings.AutoChangeSens = 3;
      const int id = AddPendant();
      Open();
      int counter = 0;
      for (int i = 0; i < 1 + kTurning + kStill; ++i) {
        const bool turning = i > 0 && i <= kTurning;
        if (turning) counter += 5;
        const std::size_t at = std::min<std::size_t>(i, pace.updates.size() - 1);
        for (int u = 0; u < pace.updates[at]; ++u) Update();
        Queue(id, {.counter = counter,
                   .speed = turning ? 40 : 0,
                   .axisSel = 1,
                   .mode = 2,
                   .stepSel = mode.stepSel});
        Cycle();
      }
      const auto& calls = host.calls;
      const auto lastStart = std::find(calls.rbegin(), calls.rend(), "Code \"DOJOG\"");
      const auto lastStop = std::find(calls.rbegin(), calls.rend(), "Code \"ENDJOG\"");
      ASSERT_NE(lastStart, calls.rend());
      EXPECT_LT(lastStop, lastStart) << "no ENDJOG after the last DOJOG";
      EXPECT_EQ(CountOf(calls, "DoButton 204"), CountOf(calls, "DoButton 205"));
      EXPECT_GE(CountOf(calls, "DoButton 204"), 1);
      EXPECT_EQ(
          host.Get<uint8_t>(host.blockA, host::JogRecordField(0, host::offset::kJogStopRequest)),
          1);
    }
  }
}

TEST_F(LinkTest, OutputReportWrittenAsComposed) {
  const int id = AddPendant();
  PendantWindow& w = Open();
  Cycle();
  uint8_t last[kOutputReportSize] = {};
  ASSERT_TRUE(bus->LastOutput(id, last, sizeof last));
  EXPECT_EQ(0, std::memcmp(last, w.outputReport, sizeof last));
}

TEST_F(LinkTest, DisplayCycleHeldWhileTheWheelTurns) {
  const int id = AddPendant();
  PendantWindow& w = Open();
  Queue(id, {.counter = 0, .speed = 10, .enable = 1});
  Queue(id, {.counter = 0, .speed = 12, .enable = 1});
  Queue(id, {.counter = 0, .speed = 0, .enable = 1});
  std::vector<int> seen;
  for (int i = 0; i < 5; ++i) {
    Cycle();
    seen.push_back(w.displayCycle);
  }
  EXPECT_EQ(seen, (std::vector<int>{159, 159, 159, 158, 157}));
  Cycle(157);
  EXPECT_EQ(w.displayCycle, 0);
  Cycle();
  EXPECT_EQ(w.displayCycle, 159);
}

TEST_F(LinkTest, DisconnectedCycleOnlyCounts) {
  PendantWindow& w = Open();  // no pendant
  // An automatic jog sets it, and that needs a pendant.
  w.jogTickCountdown = 2;
  // The host idle in incremental mode: a sample would clear it.
  ASSERT_EQ(w.restoreAbsolute, 1);
  host.Set<int32_t>(host.blockB, host::offset::kDistanceMode, 1);
  host.Clear();
  Cycle(3);
  EXPECT_EQ(w.jogTickCountdown, 0);
  EXPECT_EQ(w.displayCycle, 157);
  EXPECT_EQ(w.restoreAbsolute, 1);
  EXPECT_EQ(w.prevJogMode, JogMode{});  // never decoded
  EXPECT_EQ(host.TotalCallbacks(), 0);
}

TEST_F(LinkTest, RestoreAbsoluteSampledOnlyWhileHostIsIdle) {
  struct Case {
    const char* name;
    int32_t busy, bufIn, bufOut, motIn, motOut, distance;
    uint8_t before, after;
  };
  const std::vector<Case> cases = {
      {"idle, absolute", 0, 4, 4, 7, 7, 0, 0, 1},
      {"idle, incremental", 0, 4, 4, 7, 7, 1, 1, 0},
      {"busy", 1, 4, 4, 7, 7, 1, 1, 1},
      {"buffer queue pending", 0, 5, 4, 7, 7, 1, 1, 1},
      {"motion queue pending", 0, 4, 4, 8, 7, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bus->Reset();
    AddPendant();
    PendantWindow& w = Open();
    // The value before: sampled from an idle host.
    host.Set(host.blockC, host::offset::kBusyIndicator, 0);
    host.Set(host.blockC, host::offset::kBufferQueueIn, c.bufOut);
    host.Set(host.blockC, host::offset::kBufferQueueOut, c.bufOut);
    host.Set(host.blockA, host::offset::kMotionQueueIn, c.motOut);
    host.Set(host.blockA, host::offset::kMotionQueueOut, c.motOut);
    host.Set(host.blockB, host::offset::kDistanceMode, c.before != 0 ? 0 : 1);
    Cycle();
    ASSERT_EQ(w.restoreAbsolute, c.before);
    host.Set(host.blockC, host::offset::kBusyIndicator, c.busy);
    host.Set(host.blockC, host::offset::kBufferQueueIn, c.bufIn);
    host.Set(host.blockC, host::offset::kBufferQueueOut, c.bufOut);
    host.Set(host.blockA, host::offset::kMotionQueueIn, c.motIn);
    host.Set(host.blockA, host::offset::kMotionQueueOut, c.motOut);
    host.Set(host.blockB, host::offset::kDistanceMode, c.distance);
    Cycle();
    EXPECT_EQ(w.restoreAbsolute, c.after);
  }
  host.Set<int32_t>(host.blockA, host::offset::kMotionQueueIn, 0);
  host.Set<int32_t>(host.blockA, host::offset::kMotionQueueOut, 0);
}

// The first report after an open or a reopen only sets where the counter
// stands; later reports count from there.
TEST_F(LinkTest, FirstReportAfterOpeningSetsTheWheelBaseline) {
  const int id = AddPendant();
  PendantWindow& w = Open();
  Cycle(2);  // no report yet: the baseline waits for a real one
  EXPECT_TRUE(w.wheelBaselinePending);
  Queue(id, {.counter = 200, .enable = 1});
  Queue(id, {.counter = 203, .enable = 1});
  Cycle();
  EXPECT_EQ(w.wheelSteps, 0);
  EXPECT_EQ(w.lastWheelCount, 200);
  Cycle();
  EXPECT_EQ(w.wheelSteps, 3);
  EXPECT_EQ(w.wheelDirection, 0);

  // Replugged with its counter somewhere else.
  bus->Unplug(id, true);
  bus->Plug(id, true);
  Queue(id, {.counter = 17, .enable = 1});
  Queue(id, {.counter = 15, .enable = 1});
  Cycle();
  EXPECT_EQ(w.wheelSteps, 0);
  Cycle();
  EXPECT_EQ(w.wheelSteps, 2);
  EXPECT_EQ(w.wheelDirection, 1);
}

TEST_F(LinkTest, ArrivalAbandonsTheOutstandingRead) {
  const int id = AddPendant();
  PendantWindow& w = Open();
  Cycle();  // nothing queued: read pending
  ASSERT_TRUE(w.readOutstanding);
  bus->ArriveDevice("/dev/mouse", 0x046D, 0xC077, true);
  EXPECT_FALSE(w.readOutstanding);
  Queue(id, {.counter = 5});
  Cycle();
  EXPECT_EQ(bus->ReadsStarted(id), 2u);
  EXPECT_EQ(CounterOf(w), 5);
}

}  // namespace
}  // namespace km4r::test
