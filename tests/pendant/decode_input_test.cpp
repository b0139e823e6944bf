// Input decoding. The jog engine runs inside every decode; the tests keep it
// idle by holding the enable switch (it then moves nothing) and look at the
// decoder's own fields and host calls.
#include "pendant/input_words.h"
#include "tests/pendant/link_fixture.h"

namespace km4r::test {
namespace {

// A decoder as after start-up. The switch held in the report before keeps
// the engine idle: no report reaches that state without a cycle of its own.
struct Decoder {
  Decoder() { w.enableHeld = 1; }
  void Decode(const sim::InputFields& f) {
    const auto r = sim::MakeReport(f);
    std::memcpy(w.inputReport, r.data(), r.size());
    w.DecodeInput();
  }
  sim::InProcessHost host;
  PendantWindow w;
};

class DecodeTest : public ::testing::Test, protected Decoder {};

TEST(WheelDifference, ShortWayAcrossTheWrap) {
  struct Case {
    int from, to, prevDirection, steps, direction;
  };
  const std::vector<Case> cases = {
      {250, 3, 1, 9, 0},   {3, 250, 0, 9, 1},   {10, 10, 1, 0, 1}, {10, 10, 0, 0, 0},
      {0, 127, 1, 127, 0}, {127, 0, 0, 127, 1}, {255, 0, 1, 1, 0}, {0, 255, 0, 1, 1},
      {0, 129, 0, 127, 1}, {129, 0, 1, 127, 0}, {0, 128, 1, 0, 1}, {128, 0, 0, 0, 0},
      {200, 72, 1, 0, 1},
  };
  for (const auto& c : cases) {
    const WheelMotion m = WheelDifference(c.to, c.from, c.prevDirection);
    EXPECT_EQ(m.steps, c.steps) << c.from << "->" << c.to;
    EXPECT_EQ(m.direction, c.direction) << c.from << "->" << c.to;
  }
}

TEST_F(DecodeTest, HalfTurnIsNoMotionNotARepeat) {
  Decode({.counter = 5, .enable = 1});
  EXPECT_EQ(w.wheelSteps, 5);
  Decode({.counter = 133, .enable = 1});
  EXPECT_EQ(w.wheelSteps, 0);
  EXPECT_EQ(w.wheelDirection, 0);
  EXPECT_EQ(w.lastWheelCount, 133);
  Decode({.counter = 130, .enable = 1});
  EXPECT_EQ(w.wheelSteps, 3);
  EXPECT_EQ(w.wheelDirection, 1);
}

TEST_F(DecodeTest, ModeFieldZeroKeepsTheFlags) {
  struct Step {
    int mode;
    int m1, m2, m3;
  };
  const std::vector<Step> steps = {{0, 0, 0, 0}, {2, 0, 1, 0}, {0, 0, 1, 0},
                                   {3, 0, 0, 1}, {1, 1, 0, 0}, {0, 1, 0, 0}};
  for (const auto& s : steps) {
    Decode({.enable = 1, .mode = s.mode});
    EXPECT_EQ(w.mode1Active, s.m1) << s.mode;
    EXPECT_EQ(w.mode2Active, s.m2) << s.mode;
    EXPECT_EQ(w.mode3Active, s.m3) << s.mode;
  }
}

TEST_F(DecodeTest, EstopPressRepeatAndRelease) {
  struct Step {
    int estop;
    bool led800;
    int presses;  // DoButton 1021 in this decode
    int latched;
  };
  const std::vector<Step> steps = {
      {0, false, 0, 0}, {1, false, 1, 1}, {1, false, 1, 1}, {1, true, 0, 1},
      {1, true, 0, 1},  {1, false, 1, 1}, {0, true, 1, 0},  {0, false, 0, 0},
  };
  int i = 0;
  for (const auto& s : steps) {
    host.led[800] = s.led800;
    host.Clear();
    Decode({.axisSel = 1, .enable = 1, .estop = s.estop});
    EXPECT_EQ(CountOf(host.calls, "DoButton 1021"), s.presses) << "step " << i;
    EXPECT_EQ(w.estopLatched, s.latched) << "step " << i;
    ++i;
  }
}

TEST_F(DecodeTest, EstopHeldTenCyclesWithHostNotStopping) {
  for (int i = 0; i < 10; ++i) Decode({.axisSel = 1, .enable = 1, .estop = 1});
  EXPECT_EQ(CountOf(host.calls, "DoButton 1021"), 10);
}

// Selectors, and the jog mode or axis index the decode makes of them.
template <typename Expected>
struct SelectorCase {
  int mode;  // mode field of the report (0: no flag set yet)
  int axisSel;
  int stepSel;
  bool caMode;
  Expected expected;
};

TEST_F(DecodeTest, JogModeTables) {
  using enum JogMode;
  constexpr auto kKeep = static_cast<JogMode>(99);  // jogMode set before the decode
  const std::vector<SelectorCase<JogMode>> cases = {
      // Third mode position.
      {3, 6, 6, false, ScreenSelect},
      {3, 6, 1, false, JogRateAdjust},
      {3, 4, 1, false, FeedOverrideAdjust},
      {3, 5, 1, false, SpindleOverrideAdjust},
      {3, 1, 1, false, StepJog},
      {3, 1, 2, false, VelocityJog},
      {3, 2, 3, false, RateJog},
      {3, 3, 4, false, StepSizeSelect},
      {3, 7, 5, false, AxisZero},
      {3, 1, 0, false, kKeep},
      {3, 1, 7, false, kKeep},
      // Second mode position.
      {2, 6, 1, false, JogRateAdjust},
      {2, 6, 1, true, StepJog},
      {2, 6, 6, true, kKeep},
      {2, 4, 2, false, FeedOverrideAdjust},
      {2, 5, 2, false, SpindleOverrideAdjust},
      {2, 1, 2, false, VelocityJog},
      {2, 2, 3, false, RateJog},
      {2, 3, 4, false, StepSizeSelect},
      {2, 1, 5, false, AxisZero},
      {2, 1, 6, false, kKeep},
      // First mode position.
      {1, 1, 4, false, JogRateAdjust},
      {1, 1, 5, false, FeedOverrideAdjust},
      {1, 1, 6, false, SpindleOverrideAdjust},
      {1, 5, 1, false, StepSizeSelect},
      {1, 5, 2, false, StepSizeSelect},
      {1, 1, 1, false, StepJog},
      {1, 1, 2, false, VelocityJog},
      {1, 1, 3, false, RateJog},
      {1, 6, 0, false, kKeep},
      // No mode flag set yet.
      {0, 1, 2, false, StepSizeSelect},
      {0, 5, 1, false, StepJog},
      {0, 1, 3, false, RateJog},
      {0, 1, 4, false, JogRateAdjust},
      {0, 1, 0, false, kKeep},
  };
  for (const auto& c : cases) {
    Decoder d;
    Module().settings.CAmode = c.caMode ? 1 : 0;
    d.w.jogMode = kKeep;
    d.w.prevJogMode = kKeep;
    d.Decode({.axisSel = c.axisSel, .enable = 1, .mode = c.mode, .stepSel = c.stepSel});
    EXPECT_EQ(d.w.jogMode, c.expected) << "mode " << c.mode << " axis " << c.axisSel << " step "
                                       << c.stepSel << " CA " << c.caMode;
    // A button goes out exactly when the mode changed.
    EXPECT_EQ(CountOf(d.host.calls, "DoButton 334"), c.expected != kKeep ? 1 : 0);
  }
}

TEST_F(DecodeTest, AxisTables) {
  constexpr int32_t kKeep = 9;
  const std::vector<SelectorCase<int32_t>> cases = {
      {1, 1, 0, false, 0},     {2, 2, 0, false, 1},     {3, 3, 0, false, 2},
      {1, 4, 0, false, 3},     {3, 4, 0, false, 3},     {2, 4, 0, false, kKeep},
      {2, 6, 0, true, 3},      {2, 6, 0, false, kKeep}, {3, 6, 0, true, kKeep},
      {3, 5, 0, false, 4},     {0, 5, 0, false, 4},     {1, 5, 0, false, kKeep},
      {2, 5, 0, false, kKeep}, {3, 7, 0, false, 3},     {1, 7, 0, false, kKeep},
      {2, 0, 0, false, kKeep},
  };
  for (const auto& c : cases) {
    Decoder d;
    Module().settings.CAmode = c.caMode ? 1 : 0;
    d.w.axisIndex = kKeep;
    d.Decode({.axisSel = c.axisSel, .enable = 1, .mode = c.mode});
    EXPECT_EQ(d.w.axisIndex, c.expected)
        << "mode " << c.mode << " axis " << c.axisSel << " CA " << c.caMode;
  }
}

TEST_F(DecodeTest, SelectorMoveStopsJogsAfterTheModeButton) {
  Decode({.axisSel = 1, .enable = 1, .mode = 1, .stepSel = 1});
  ASSERT_EQ(w.axisIndex, 0);
  // Counts the engine held, which the held switch keeps idle here.
  w.jogCountAccumulator = 4;
  for (int axis = 0; axis < 5; ++axis)
    host.Set<uint8_t>(host.blockA, host::JogRecordField(axis, host::offset::kJogStopRequest), 0);
  host.Clear();
  Decode({.axisSel = 2, .enable = 1, .mode = 1, .stepSel = 3});
  EXPECT_EQ(Only(host.calls, {"DoButton", "Code"}),
            (std::vector<std::string>{"DoButton 334", "Code \"ENDJOG\""}));
  EXPECT_EQ(w.axisIndex, 1);
  EXPECT_EQ(w.jogCountAccumulator, 0);
  for (int axis = 0; axis < 5; ++axis) {
    EXPECT_EQ(
        host.Get<uint8_t>(host.blockA, host::JogRecordField(axis, host::offset::kJogStopRequest)),
        axis < 4 ? 1 : 0)
        << axis;
  }
  // The same report again changes nothing.
  host.Clear();
  Decode({.axisSel = 2, .enable = 1, .mode = 1, .stepSel = 3});
  EXPECT_TRUE(Only(host.calls, {"DoButton", "Code"}).empty());
}

TEST_F(DecodeTest, FirstDecodeAfterStartUp) {
  struct Case {
    int axisSel;
    int endjogs;
  };
  for (const Case c : {Case{1, 0}, Case{3, 1}}) {
    Decoder d;
    d.Decode({.axisSel = c.axisSel, .enable = 1});
    EXPECT_EQ(CountOf(d.host.calls, "DoButton 334"), 1);
    EXPECT_EQ(CountOf(d.host.calls, "Code \"ENDJOG\""), c.endjogs);
  }
}

TEST_F(DecodeTest, SelectorChangeWhileHostBusyMarksAndClears) {
  Decode({.axisSel = 1, .enable = 1});
  host.Set<int32_t>(host.blockA, host::offset::kMotionQueueIn, 5);
  host.Set<int32_t>(host.blockA, host::offset::kMotionQueueOut, 3);
  Decode({.axisSel = 2, .enable = 1});
  EXPECT_TRUE(Module().selectorChangeBusy);
  Decode({.axisSel = 2, .enable = 1});
  EXPECT_TRUE(Module().selectorChangeBusy);  // host still moving
  host.Set<int32_t>(host.blockA, host::offset::kMotionQueueOut, 5);
  Decode({.axisSel = 2, .enable = 1});
  EXPECT_FALSE(Module().selectorChangeBusy);
}

TEST_F(DecodeTest, FeedRestoreAfterTheEngine) {
  struct Case {
    int32_t restoreTicks;
    int32_t stepJogRate;
    std::vector<std::string> expected;
    uint8_t pendingAfter;
  };
  const std::vector<Case> cases = {
      {0, 40, {"SetDRO 818 12.5", "SetDRO 821 80"}, 0},
      {0, 0, {"SetDRO 818 12.5"}, 0},
      {2, 40, {}, 1},
  };
  for (const auto& c : cases) {
    Decoder d;
    // Left by a step jog, which the held switch keeps from running here.
    d.w.droRestorePending = 1;
    d.w.savedDro818 = 12.5;
    d.w.savedDro821 = 80;
    Module().settings.StepJogRate = c.stepJogRate;
    Module().ticks.DroRestoreTicks = c.restoreTicks;
    d.Decode({.axisSel = 1, .enable = 1});
    EXPECT_EQ(Only(d.host.calls, {"SetDRO"}), c.expected);
    EXPECT_EQ(d.w.droRestorePending, c.pendingAfter);
  }
}

class WheelStartTest : public DecodeTest {
 protected:
  // One turn of the wheel: a report with the wheel moving, then one with it
  // standing. Mode 1 with the step selector past 3 and enable held is a
  // screen position.
  void Turn(int delta) {
    counter = (counter + delta + 256) % 256;
    Decode({.counter = counter, .speed = 20, .axisSel = 1, .enable = 1, .mode = 1, .stepSel = 4});
    Decode({.counter = counter, .speed = 0, .axisSel = 1, .enable = 1, .mode = 1, .stepSel = 4});
  }
  std::vector<std::string> Buttons() {
    auto b = Only(host.calls, {"DoButton"});
    host.Clear();
    return b;
  }
  void SetScreens(int a, int b, int c) {
    Module().settings.ScreenSel1 = static_cast<int16_t>(a);
    Module().settings.ScreenSel2 = static_cast<int16_t>(b);
    Module().settings.ScreenSel3 = static_cast<int16_t>(c);
  }
  int counter = 0;
};

TEST_F(WheelStartTest, ScreensCycleWithTheCounterRising) {
  SetScreens(1, 2, 3);
  Decode({.axisSel = 1, .enable = 1, .mode = 1, .stepSel = 4});
  host.Clear();
  std::vector<std::string> sent;
  for (int i = 0; i < 4; ++i) {
    Turn(+2);
    for (auto& b : Buttons()) sent.push_back(b);
  }
  EXPECT_EQ(sent,
            (std::vector<std::string>{"DoButton 2", "DoButton 3", "DoButton 1", "DoButton 2"}));
  EXPECT_EQ(Module().currentScreenCode, 2);
  EXPECT_EQ(w.screenSlot, 2);
}

TEST_F(WheelStartTest, ScreenSlotsFollowTheSettings) {
  struct Case {
    int a, b, c;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {1, 0, 3, {"DoButton 3"}},
      {1, 0, 0, {}},
      {1, 4, 0, {"DoButton 7"}},
      {1, 6, 0, {"DoButton 5"}},
  };
  for (const auto& c : cases) {
    Decoder d;
    SetScreens(c.a, c.b, c.c);
    for (int counter : {0, 3}) {
      d.Decode({.counter = counter,
                .speed = counter != 0 ? 9 : 0,
                .axisSel = 1,
                .enable = 1,
                .mode = 1,
                .stepSel = 5});
    }
    auto buttons = Only(d.host.calls, {"DoButton"});
    buttons.erase(std::remove(buttons.begin(), buttons.end(), "DoButton 334"), buttons.end());
    EXPECT_EQ(buttons, c.expected) << c.a << c.b << c.c;
  }
}

TEST_F(WheelStartTest, CounterFallingGoesBack) {
  SetScreens(1, 2, 3);
  Decode({.counter = 10, .axisSel = 1, .enable = 1, .mode = 1, .stepSel = 4});
  counter = 10;
  host.Clear();
  Turn(-1);
  EXPECT_EQ(Buttons(), (std::vector<std::string>{"DoButton 323"}));
  EXPECT_EQ(w.screenSlot, 1);
}

TEST_F(WheelStartTest, ResetIndicatorFreezesWheelStarts) {
  SetScreens(1, 2, 3);
  Decode({.axisSel = 1, .enable = 1, .mode = 1, .stepSel = 4});
  host.Set<uint8_t>(host.blockA, host::offset::kResetIndicator, 1);
  host.Clear();
  Turn(+1);
  EXPECT_TRUE(Buttons().empty());
  EXPECT_EQ(w.wheelWasTurning, 0);
  host.Set<uint8_t>(host.blockA, host::offset::kResetIndicator, 0);
  Turn(+1);
  EXPECT_EQ(Buttons(), (std::vector<std::string>{"DoButton 2"}));
}

// A wheel already turning when the screen position is reached is a start.
TEST_F(WheelStartTest, TurningWheelEnteringScreenPositionStarts) {
  SetScreens(1, 2, 3);
  Decode({.counter = 1, .speed = 9, .axisSel = 1, .enable = 1, .mode = 1, .stepSel = 1});
  Decode({.counter = 2, .speed = 9, .axisSel = 1, .enable = 1, .mode = 1, .stepSel = 1});
  EXPECT_EQ(w.wheelWasTurning, 0);
  host.Clear();
  Decode({.counter = 3, .speed = 9, .axisSel = 1, .enable = 1, .mode = 1, .stepSel = 4});
  EXPECT_EQ(CountOf(host.calls, "DoButton 2"), 1);
  EXPECT_EQ(Module().ticks.WheelActiveTicks, 3);
}

}  // namespace
}  // namespace km4r::test
