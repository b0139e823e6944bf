#include <cstdlib>

#include "platform/host_string.h"
#include "tests/support/cycle_rig.h"

namespace km4r::test {
namespace {

struct StepRig : CycleRig {
  // absolute: the host in absolute mode when the pendant first reports.
  explicit StepRig(int axis = 0, bool absolute = false) {
    Settings().StepJogRate = 100;
    Increment(0.001);
    if (absolute) host.Set(host.blockB, host::offset::kDistanceMode, int32_t{0});
    Select(JogMode::StepJog, axis);
  }
  // Counts turned while the host's move queue is full are held back.
  void Hold(int counts) {
    host.dro[host::code::kDroMoveLimit] = 20.0;
    Run(counts < 0 ? 1 : 0, std::abs(counts));
    host.dro[host::code::kDroMoveLimit] = 0.0;
    EXPECT_EQ(w.jogCountAccumulator, counts);
  }
};

TEST(StepJog, IdleReportTouchesNothing) {
  for (int sens : {0, 3}) {
    StepRig b;
    b.Settings().AutoChangeSens = static_cast<int16_t>(sens);
    // The engine alone: the display reads the host in every cycle.
    b.host.Clear();
    b.w.RunJogEngine(0, 0);
    EXPECT_EQ(b.host.TotalCallbacks(), 0) << "AutoChangeSens " << sens;
  }
}

TEST(StepJog, HeldCountsDrainInChunksOfFive) {
  struct Case {
    int held;
    int rate;
    std::vector<Calls> cycles;
  };
  const Case cases[] = {
      {12,
       100,
       {{"Code \"G91G1 F100 X 0.0050\""},
        {"Code \"G91G1 F100 X 0.0050\"", "Code \"G91G1 F100 X 0.0020\""},
        {}}},
      {-7, 100, {{"Code \"G91G1 F100 X -0.0050\"", "Code \"G91G1 F100 X -0.0020\""}, {}}},
      // Exactly five: one move, and no zero-length move after it.
      {5, 100, {{"Code \"G91G1 F100 X 0.0050\""}, {}}},
      {3, 0, {{"Code \"G91G1 X 0.0030\""}, {}}},
  };
  for (const Case& c : cases) {
    StepRig b;
    b.Settings().StepJogRate = c.rate;
    b.Hold(c.held);
    for (std::size_t i = 0; i < c.cycles.size(); ++i) {
      EXPECT_EQ(b.Run(0, 0), c.cycles[i]) << "held " << c.held << " cycle " << i;
    }
    EXPECT_EQ(b.w.jogCountAccumulator, 0);
  }
}

TEST(StepJog, ReleaseWaitsWhileDro22High) {
  StepRig b;
  b.Hold(7);
  b.host.dro[22] = 20.0;
  EXPECT_EQ(b.Run(0, 0), Calls{});
  EXPECT_EQ(b.w.jogCountAccumulator, 7);
}

TEST(StepJog, LiveMoves) {
  struct Case {
    const char* name;
    int rate, direction, count, axis;
    double angle, dro22;
    bool absolute, busy;
    Calls want;
  };
  const Case cases[] = {
      {"plain",
       100,
       0,
       3,
       0,
       0.0,
       0.0,
       false,
       false,
       {"SetDRO 821 100", "Code \"G91G1 F100 X 0.0030\""}},
      {"negative",
       100,
       1,
       3,
       0,
       0.0,
       0.0,
       false,
       false,
       {"SetDRO 821 100", "Code \"G91G1 F100 X -0.0030\""}},
      {"host feed", 0, 0, 2, 2, 0.0, 0.0, false, false, {"Code \"G91G1 F250.0000 Z 0.0020\""}},
      {"Z ignores rotation",
       100,
       0,
       1,
       2,
       30.0,
       0.0,
       false,
       false,
       {"SetDRO 821 100", "Code \"G91G1 F100 Z 0.0010\""}},
      {"B ignores rotation",
       100,
       1,
       1,
       4,
       30.0,
       0.0,
       false,
       false,
       {"SetDRO 821 100", "Code \"G91G1 F100 B -0.0010\""}},
      {"just below limit",
       100,
       0,
       3,
       1,
       0.0,
       19.999,
       false,
       false,
       {"SetDRO 821 100", "Code \"G91G1 F100 Y 0.0030\""}},
      {"held at limit", 100, 0, 3, 1, 0.0, 20.0, false, false, {"SetDRO 821 100"}},
      {"absolute",
       100,
       0,
       1,
       0,
       0.0,
       0.0,
       true,
       false,
       {"SetDRO 821 100", "Code \"G91G1 F100 X 0.0010\"", "Code \"G90\""}},
      {"selector busy", 100, 0, 1, 0, 0.0, 0.0, true, true, {"SetDRO 821 100", "Code \"G90\""}},
      {"rotated Y", 100, 1, 2, 1, 30.0, 0.0, false, false, {"Code \"G91G1 X-0.0010 Y-0.0017 \""}},
      {"rotated X", 0, 0, 100, 0, 30.0, 0.0, false, false, {"Code \"G91G1 X0.0866 Y-0.0500 \""}},
      {"rotated dropped", 100, 0, 2, 0, 30.0, 20.0, false, false, {}},
  };
  for (const Case& c : cases) {
    StepRig b(c.axis, c.absolute);
    b.Settings().StepJogRate = c.rate;
    b.host.dro[818] = 250.0;
    b.host.dro[22] = c.dro22;
    // The host still moving after a selector change.
    if (c.busy) b.host.Set(b.host.blockA, host::offset::kMotionQueueIn, int32_t{1});
    Module().selectorChangeBusy = c.busy;
    b.Angle(c.angle);
    EXPECT_EQ(b.Run(c.direction, c.count), c.want) << c.name;
    const bool rotated = c.angle != 0.0 && c.axis <= 1;
    EXPECT_EQ(b.w.droRestorePending, rotated ? 0 : 1) << c.name;
    EXPECT_EQ(b.Ticks().DroRestoreTicks, rotated ? 0 : 3) << c.name;
    const bool held = !rotated && c.dro22 >= 20.0;
    EXPECT_EQ(b.w.jogCountAccumulator, held ? (c.direction == 0 ? c.count : -c.count) : 0)
        << c.name;
  }
}

TEST(StepJog, FeedSavedOnceForABurst) {
  StepRig b;
  b.host.dro[818] = 40.0;
  b.host.dro[821] = 75.0;
  b.Run(0, 1);
  b.host.dro[818] = 55.0;  // the move itself changed the host's values
  b.Run(0, 1);
  EXPECT_DOUBLE_EQ(b.w.savedDro818, 40.0);
  EXPECT_DOUBLE_EQ(b.w.savedDro821, 75.0);
}

TEST(StepJog, RefusedOrSwitchedOff) {
  struct Case {
    bool led804, led805, led806, led83;
    bool moves;
    const char* status;
  };
  const Case cases[] = {
      {true, false, false, true, false, ""},  {false, true, false, true, false, ""},
      {true, true, true, true, true, ""},     {false, false, false, false, false, " Jog OFF. "},
      {true, false, false, false, false, ""},  // refused before the LED 83 test
  };
  for (const Case& c : cases) {
    StepRig b;
    b.host.led[804] = c.led804;
    b.host.led[805] = c.led805;
    b.host.led[806] = c.led806;
    b.host.led[83] = c.led83;
    EXPECT_EQ(!b.Run(0, 2).empty(), c.moves);
    EXPECT_EQ(b.host.StatusText(), c.status);
    EXPECT_EQ(b.w.jogCountAccumulator, 0);
  }
}

TEST(StepJog, EnableHeldAndResetStopEverything) {
  StepRig b;
  // The switch reaches the engine with the report after the one showing it.
  b.report.enable = 1;
  b.Hold(9);
  EXPECT_EQ(b.Run(0, 3), Calls{});
  EXPECT_EQ(b.w.jogCountAccumulator, 9);

  b.report.enable = 0;
  b.Reset(1);
  // No report sequence leaves a 205 owed without a running jog (see the link
  // tests); the engine must still pay it.
  b.w.jogStarted = b.w.altJogPressed = true;
  EXPECT_EQ(b.Run(0, 3), Calls{"DoButton 205"});
  EXPECT_EQ(b.Run(0, 3), Calls{});
  EXPECT_EQ(b.w.jogCountAccumulator, 0);
  EXPECT_FALSE(b.w.jogStarted);
}

TEST(StepJog, AutomaticJogClosesOverFiveCycles) {
  StepRig b;
  b.Settings().AutoChangeSens = 3;
  b.host.Set<int32_t>(b.host.blockC, host::offset::kAxisVelocityLimit, 100);
  b.host.led[15] = true;
  b.SpeedByte(60);
  EXPECT_EQ(b.Run(0, 3), (Calls{"DoButton 204", "Code \"DOJOG\""}));
  EXPECT_TRUE(b.w.autoVelocityActive);
  // Fewer counts stay in the automatic jog while it is active; the speed byte
  // dropping to 0 ends it and releases the start button at once.
  b.SpeedByte(0);
  EXPECT_EQ(b.Run(0, 1), (Calls{"Code \"ENDJOG\"", "DoButton 205"}));
  EXPECT_FALSE(b.w.autoVelocityActive);
  for (int cycle = 1; cycle <= 5; ++cycle) {
    Calls want{"Code \"ENDJOG\""};
    if (cycle == 5) want.insert(want.end(), {"SetDRO 821 100", "Code \"G91G1 F100 X 0.0020\""});
    EXPECT_EQ(b.Run(0, 2), want) << "cycle " << cycle;
  }
  EXPECT_EQ(b.Run(0, 2), (Calls{"SetDRO 821 100", "Code \"G91G1 F100 X 0.0020\""}));
}

TEST(StepJog, SensitivityOutsideTableIsClamped) {
  struct Case {
    int16_t sens;
    int count;
    bool automatic;
  };
  const Case cases[] = {{40, 9, true}, {40, 8, false}, {-3, 127, false}, {9, 9, true}};
  for (const Case& c : cases) {
    StepRig b;
    b.Settings().AutoChangeSens = c.sens;
    b.SpeedByte(10);
    b.Run(0, c.count);
    EXPECT_EQ(b.w.autoVelocityUsed, c.automatic) << c.sens << " " << c.count;
  }
}

TEST(StepJog, AxisOutsideTableMovesNothing) {
  StepRig b;
  // No selector names an axis past B; the engine alone must still refuse one.
  b.w.axisIndex = 6;
  b.host.Clear();
  b.w.RunJogEngine(0, 3);
  EXPECT_EQ(b.host.TotalCallbacks(), 0);
}

}  // namespace
}  // namespace km4r::test

namespace km4r::test {
namespace {

// The status text is replaced only when it differs: a host that keeps showing
// " Jog OFF. " gets no fresh string (and the cycle no allocation) each report,
// but a text the host changed in between is replaced again.
TEST(StepJog, JogOffStatusReplacedOnlyWhenChanged) {
  StepRig b;
  b.host.led[host::code::kLedJogEnabled] = false;
  void* slot = b.host.blockC.data() + host::offset::kStatusText;
  b.Run(0, 3);
  const char* first = platform::HostString::TextAt(slot);
  EXPECT_STREQ(first, " Jog OFF. ");
  b.Run(0, 3);
  EXPECT_EQ(platform::HostString::TextAt(slot), first);
  platform::HostString::AssignAt(slot, "Ready");
  b.Run(0, 3);
  EXPECT_EQ(b.host.StatusText(), " Jog OFF. ");
}

}  // namespace
}  // namespace km4r::test
