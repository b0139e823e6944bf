#include "tests/support/cycle_rig.h"

namespace km4r::test {
namespace {

TEST(ValueAdjust, ScalesWithinLimits) {
  struct Case {
    JogMode mode;
    int dro;
    double start;
    int direction, count;
    Calls want;
  };
  const Case cases[] = {
      {JogMode::FeedOverrideAdjust, 821, 100.0, 0, 4, {"SetDRO 821 102"}},
      {JogMode::FeedOverrideAdjust, 821, 249.0, 0, 4, {"SetDRO 821 250"}},
      {JogMode::FeedOverrideAdjust, 821, 250.0, 0, 1, {}},
      {JogMode::FeedOverrideAdjust, 821, 100.0, 0, 0, {}},
      {JogMode::JogRateAdjust, 3, 0.15, 1, 60, {"SetDRO 3 0.105"}},
      {JogMode::JogRateAdjust, 3, 0.1, 1, 10, {"SetDRO 3 0.1"}},
      {JogMode::JogRateAdjust, 3, 0.0, 1, 10, {}},
      {JogMode::JogRateAdjust, 3, 0.0, 0, 10, {"SetDRO 3 0"}},
      {JogMode::JogRateAdjust, 3, 99.9, 0, 10, {"SetDRO 3 100"}},
      {JogMode::SpindleOverrideAdjust, 74, 1.5, 1, 100, {"SetDRO 74 1"}},
      {JogMode::SpindleOverrideAdjust, 74, 200.0, 1, 127, {"SetDRO 74 73"}},
  };
  for (const Case& c : cases) {
    CycleRig b;
    b.Select(c.mode);
    b.host.dro[c.dro] = c.start;
    EXPECT_EQ(b.Run(c.direction, c.count), c.want) << static_cast<int>(c.mode) << " " << c.start;
  }
}

struct EdgeRig : CycleRig {
  explicit EdgeRig(JogMode mode, int axis = 0) { Select(mode, axis); }
  // A fresh wheel start: the speed byte drops to 0, then comes back.
  Calls Edge(int direction) {
    SpeedByte(0);
    Run(direction, 1);
    SpeedByte(20);
    return Run(direction, 1);
  }
};

TEST(StepSizeSelect, CyclesThroughConfiguredSlots) {
  struct Case {
    int16_t s1, s2, s3;
    int slot, direction;
    std::vector<const char*> writes;  // one per edge, "" for none
  };
  const Case cases[] = {
      {2, 0, 4, 1, 0, {"SetDRO 828 0.1", "SetDRO 828 0.001", "SetDRO 828 0.1"}},
      {2, 0, 4, 1, 1, {"SetDRO 828 0.1", "SetDRO 828 0.001"}},
      {2, 1, 3, 1, 0, {"SetDRO 828 0.0001", "SetDRO 828 0.01", "SetDRO 828 0.001"}},
      {2, 1, 3, 1, 1, {"SetDRO 828 0.01", "SetDRO 828 0.0001", "SetDRO 828 0.001"}},
      {2, 0, 0, 1, 0, {"", ""}},
      {2, 1, 3, 7, 0, {"", "SetDRO 828 0.0001"}},  // a lost slot restarts at 1
  };
  for (const Case& c : cases) {
    EdgeRig b(JogMode::StepSizeSelect);
    b.Settings().StepSize1 = c.s1;
    b.Settings().StepSize2 = c.s2;
    b.Settings().StepSize3 = c.s3;
    // A slot outside 1-3 is no state the wheel can reach; the engine must
    // still recover from it.
    if (c.slot != 1) b.w.stepSizeSlot = c.slot;
    for (const char* want : c.writes) {
      EXPECT_EQ(b.Edge(c.direction), *want ? Calls{want} : Calls{}) << c.s1 << c.s2 << c.s3;
    }
  }
}

TEST(StepSizeSelect, HeldWheelIsOneEdge) {
  EdgeRig b(JogMode::StepSizeSelect);
  b.Settings().StepSize1 = 2;
  b.Settings().StepSize2 = 3;
  b.SpeedByte(20);
  EXPECT_EQ(b.Run(0, 1), Calls{"SetDRO 828 0.01"});
  for (int i = 0; i < 5; ++i) EXPECT_EQ(b.Run(0, 1), Calls{});
  // Without counts or an active wheel the drop to 0 is not seen.
  b.SpeedByte(0);
  b.Ticks().WheelActiveTicks = 0;
  b.Run(0, 0);
  b.SpeedByte(20);
  EXPECT_EQ(b.Run(0, 1), Calls{});
}

TEST(AxisZero, PressesZeroButtonOfAxis) {
  struct Case {
    int axis;
    int32_t queueIn;
    bool led804, led805;
    Calls want;
  };
  const Case cases[] = {
      {0, 0, false, false, {"DoButton 1008"}},
      {1, 0, false, false, {"DoButton 1009"}},
      {2, 0, false, false, {"DoButton 1010"}},
      {3, 0, false, false, {"DoButton 1011"}},
      {4, 0, false, false, {}},
      {0, 5, false, false, {}},
      {0, 0, true, false, {}},
      {0, 0, false, true, {}},
  };
  for (const Case& c : cases) {
    EdgeRig b(JogMode::AxisZero, c.axis);
    b.host.Set(b.host.blockA, host::offset::kMotionQueueIn, c.queueIn);
    b.host.led[804] = c.led804;
    b.host.led[805] = c.led805;
    EXPECT_EQ(b.Edge(0), c.want) << c.axis;
    // A blocked call leaves the edge pending for the first call that passes.
    b.host.Set(b.host.blockA, host::offset::kMotionQueueIn, 0);
    b.host.led[804] = b.host.led[805] = false;
    EXPECT_EQ(b.Run(0, 1), c.want.empty() && c.axis != 4 ? Calls{"DoButton 1008"} : Calls{});
  }
}

TEST(ScreenSelect, ForwardCyclesScreensBackwardPresses323) {
  struct Case {
    int16_t s1, s2, s3;
    int direction;
    std::vector<int> presses;  // 0 for none
    int finalScreen;
  };
  const Case cases[] = {
      {1, 2, 3, 0, {2, 3, 1, 2}, 2}, {1, 0, 3, 0, {3, 1}, 1},     {4, 5, 6, 0, {6, 5, 7}, 7},
      {0, 0, 0, 0, {0, 0}, 1},       {0, 0, 0, 1, {323, 323}, 1},
  };
  for (const Case& c : cases) {
    EdgeRig b(JogMode::ScreenSelect);
    b.Settings().ScreenSel1 = c.s1;
    b.Settings().ScreenSel2 = c.s2;
    b.Settings().ScreenSel3 = c.s3;
    for (int press : c.presses) {
      EXPECT_EQ(b.Edge(c.direction), press ? Calls{"DoButton " + std::to_string(press)} : Calls{});
    }
    EXPECT_EQ(Module().currentScreenCode, c.finalScreen);
  }
}

TEST(ScreenSelect, SpeedByteKeepsModeAwakeResetBlocks) {
  EdgeRig b(JogMode::ScreenSelect);
  b.Settings().ScreenSel1 = 1;
  b.Settings().ScreenSel2 = 2;
  b.SpeedByte(20);
  EXPECT_EQ(b.Run(0, 0), Calls{"DoButton 2"});  // no counts needed
  EXPECT_EQ(b.Ticks().WheelActiveTicks, 3);
  b.SpeedByte(0);
  b.Run(0, 0);
  b.Reset(1);
  b.SpeedByte(20);
  EXPECT_EQ(b.Run(0, 0), Calls{});
}

}  // namespace
}  // namespace km4r::test
