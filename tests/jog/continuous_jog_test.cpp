#include <algorithm>

#include "tests/support/cycle_rig.h"

namespace km4r::test {
namespace {

struct ContinuousRig : CycleRig {
  explicit ContinuousRig(JogMode mode, int axis = 0, int32_t limit = 1000, int32_t param = 0) {
    Settings().VelocityInAuto = 5;
    Settings().DelaySteps = 25;
    host.Set(host.blockC, host::offset::kAxisVelocityLimit + 4 * axis, limit);
    host.Set(host.blockC, host::offset::kAxisJogParam + 4 * axis, param);
    Select(mode, axis);
  }
  // A long run of the wheel, until the rate jog's count passes its ceiling
  // and falls back; every report keeps the jog going.
  void TurnPastTheCeiling() {
    for (int32_t before = -1, i = 0; w.rateJogCount > before && i < 1000; ++i) {
      before = w.rateJogCount;
      EXPECT_EQ(Run(0, 127), Calls{"Code \"DOJOG\""});
    }
  }
};

TEST(VelocityJog, SpeedFollowsSmoothedByte) {
  struct Case {
    int16_t velocitySetting;
    int speedByte, calls;
    double fraction;
  };
  const Case cases[] = {
      {5, 100, 1, 182.0 / 400.0 * 3.0 / 9.0},  // first call after a clear: ramp starts
      {5, 100, 10, 0.075 * 100 / 9},
      {5, 120, 10, 1.0},  // full limit reached
      {5, 255, 12, 1.0},
      {9, 100, 10, 0.3},
      {0, 20, 10, 0.5},
      {-4, 20, 10, 0.5},   // clamped to the first divisor, 3
      {99, 100, 10, 0.3},  // clamped to the last divisor, 25
  };
  for (const Case& c : cases) {
    ContinuousRig b(JogMode::VelocityJog);
    b.Settings().VelocityInAuto = c.velocitySetting;
    b.SpeedByte(c.speedByte);
    for (int i = 0; i < c.calls; ++i) EXPECT_EQ(b.Run(0, 1), Calls{"Code \"DOJOG\""});
    EXPECT_NEAR(b.w.velocityFraction, c.fraction, 1e-9) << c.velocitySetting << "/" << c.speedByte;
    EXPECT_EQ(b.Record<int32_t>(0, host::offset::kJogSpeed),
              static_cast<int32_t>(1000 * b.w.velocityFraction));
  }
}

TEST(ContinuousJog, RecordWrittenForSelectedAxisOnly) {
  ContinuousRig b(JogMode::RateJog, 2, 800, 77);
  b.host.dro[3] = 50.0;
  b.Settings().DelaySteps = 0;
  b.SpeedByte(10);
  b.host.Set<uint8_t>(b.host.blockA, host::JogRecordField(2, host::offset::kJogStopRequest), 1);
  EXPECT_EQ(b.Run(1, 4), Calls{"Code \"DOJOG\""});
  EXPECT_EQ(b.Record<int32_t>(2, host::offset::kJogSpeed), 400);
  EXPECT_EQ(b.Record<int32_t>(2, host::offset::kJogVelocityLimit), 800);
  EXPECT_EQ(b.Record<int32_t>(2, host::offset::kJogParam), 77);
  EXPECT_EQ(b.Record<uint8_t>(2, host::offset::kJogStopRequest), 0);
  EXPECT_EQ(b.Record<uint8_t>(2, host::offset::kJogStartRequest), 1);
  EXPECT_EQ(b.Record<int32_t>(2, host::offset::kJogDirection), 1);
  for (int axis : {1, 3}) {
    for (std::size_t at = 0; at < host::offset::kAxisJogRecordSize; at += 4)
      EXPECT_EQ(b.Record<int32_t>(axis, at), 0);
  }
  b.SpeedByte(0);
  EXPECT_EQ(b.Run(1, 2), Calls{"Code \"ENDJOG\""});
  EXPECT_EQ(b.Record<uint8_t>(2, host::offset::kJogStopRequest), 1);
}

TEST(RateJog, StartsOnceDelayStepsGathered) {
  ContinuousRig b(JogMode::RateJog);
  b.host.dro[3] = 100.0;
  b.SpeedByte(30);
  EXPECT_EQ(b.Run(0, 10), Calls{});
  EXPECT_EQ(b.Run(0, 10), Calls{});
  EXPECT_EQ(b.Run(0, 10), Calls{"Code \"DOJOG\""});
  b.TurnPastTheCeiling();
  EXPECT_EQ(b.w.rateJogCount, 400);
}

// After the long-run fall-back a running jog must still be stopped when the
// wheel stops, even with DelaySteps above the fall-back value.
TEST(RateJog, LongRunFallbackStillStopsTheJog) {
  for (int delay : {25, 500}) {
    ContinuousRig b(JogMode::RateJog);
    b.Settings().DelaySteps = delay;
    b.host.dro[3] = 100.0;
    b.SpeedByte(30);
    for (int i = 0; i * 127 < delay; ++i) b.Run(0, 127);
    b.TurnPastTheCeiling();
    EXPECT_EQ(b.w.rateJogCount, std::max(400, delay));
    b.SpeedByte(0);
    EXPECT_EQ(b.Run(0, 0), Calls{"Code \"ENDJOG\""}) << delay;
  }
}

TEST(RateJog, SpeedFromJogRate) {
  struct Case {
    double rate;
    int32_t speed;
  };
  const Case cases[] = {{50.0, 500}, {33.3, 333}, {1e12, 2147483647}, {-1e12, -2147483647 - 1}};
  for (const Case& c : cases) {
    ContinuousRig b(JogMode::RateJog);
    b.Settings().DelaySteps = 0;
    b.host.dro[3] = c.rate;
    b.SpeedByte(5);
    b.Run(0, 1);
    EXPECT_EQ(b.Record<int32_t>(0, host::offset::kJogSpeed), c.speed) << c.rate;
  }
}

TEST(ContinuousJog, AltJogPressedAtStartReleasedAtEnd) {
  for (JogMode mode : {JogMode::VelocityJog, JogMode::RateJog}) {
    for (bool lit : {true, false}) {
      ContinuousRig b(mode);
      b.Settings().DelaySteps = 0;
      b.host.dro[3] = 10.0;
      b.host.led[15] = lit;
      b.SpeedByte(40);
      Calls first{"Code \"DOJOG\""};
      if (lit) first.insert(first.begin(), "DoButton 204");
      EXPECT_EQ(b.Run(0, 2), first);
      EXPECT_EQ(b.Run(0, 2), Calls{"Code \"DOJOG\""});
      b.SpeedByte(0);
      b.Ticks().WheelActiveTicks = 0;
      // Update calls ran the ticks out before the speed byte dropped: the
      // running jog still gets its "ENDJOG".
      Calls last{"Code \"ENDJOG\""};
      if (lit) last.push_back("DoButton 205");
      EXPECT_EQ(b.Run(0, 0), last) << static_cast<int>(mode);
      EXPECT_FALSE(b.w.jogStarted);
    }
  }
}

// A jog whose mode the engine no longer reaches is ended at once rather than
// left to a stop that would never come, its 204 with it; an axis move within
// the mode keeps the 204 for the jog on the new axis.
TEST(ContinuousJog, RunningJogEndedWhenItsModeIsLeft) {
  struct Case {
    const char* name;
    void (*change)(ContinuousRig&);
    const char* then;
  };
  const Case cases[] = {
      {"switch held", [](ContinuousRig& b) { b.report.enable = 1; }, "DoButton 205"},
      {"host reset", [](ContinuousRig& b) { b.Reset(1); }, "DoButton 205"},
      {"step selector moved", [](ContinuousRig& b) { b.report.stepSel = 1; }, "DoButton 205"},
      {"axis moved", [](ContinuousRig& b) { b.report.axisSel = 2; }, "Code \"DOJOG\""},
  };
  for (const Case& c : cases) {
    ContinuousRig b(JogMode::VelocityJog);
    b.host.led[15] = true;
    b.SpeedByte(40);
    b.Run(0, 2);
    c.change(b);
    // The engine learns of the switch from the report after the one that
    // shows it.
    Calls calls = b.Run(0, 2);
    if (c.change == cases[0].change) calls = b.Run(0, 2);
    calls.erase(std::remove_if(calls.begin(), calls.end(),
                               [](const std::string& s) { return s.rfind("DoButton 33", 0) == 0; }),
                calls.end());
    ASSERT_GE(calls.size(), 2u) << c.name;
    EXPECT_EQ(Calls(calls.begin(), calls.begin() + 2), (Calls{"Code \"ENDJOG\"", c.then}))
        << c.name;
    EXPECT_EQ(b.Record<uint8_t>(0, host::offset::kJogStopRequest), 1) << c.name;
    const Calls after = b.Run(0, 0);
    EXPECT_EQ(std::count(after.begin(), after.end(), "Code \"ENDJOG\""), 0) << c.name;
  }
}

TEST(ContinuousJog, StopsWhenWheelIdleOrByteDrops) {
  for (JogMode mode : {JogMode::VelocityJog, JogMode::RateJog}) {
    ContinuousRig b(mode);
    b.Settings().DelaySteps = 0;
    b.SpeedByte(40);
    b.Run(0, 2);
    // One call without counts keeps the jog going; the second stops it.
    EXPECT_EQ(b.Run(0, 0), Calls{"Code \"DOJOG\""}) << static_cast<int>(mode);
    EXPECT_EQ(b.Run(0, 0), Calls{"Code \"ENDJOG\""}) << static_cast<int>(mode);
    // Counts but the speed byte back at 0 while the wheel is still active.
    b.SpeedByte(0);
    EXPECT_EQ(b.Run(0, 3), Calls{"Code \"ENDJOG\""}) << static_cast<int>(mode);
  }
}

TEST(ContinuousJog, ReversalPausesThreeUpdates) {
  for (JogMode mode : {JogMode::VelocityJog, JogMode::RateJog}) {
    ContinuousRig b(mode);
    b.Settings().DelaySteps = 0;
    b.SpeedByte(40);
    b.Run(0, 2);
    EXPECT_EQ(b.Run(1, 2), Calls{"Code \"ENDJOG\""});
    EXPECT_EQ(b.Ticks().DirectionChangeTicks, 0);
    if (mode == JogMode::VelocityJog) {
      for (double h : b.w.speedHistory) EXPECT_EQ(h, 0.0);
    }
    b.Ticks().DirectionChangeTicks = 2;
    EXPECT_EQ(b.Run(1, 2), Calls{});
    b.Ticks().DirectionChangeTicks = 3;
    EXPECT_EQ(b.Run(1, 2), Calls{"Code \"DOJOG\""});
    EXPECT_EQ(b.Record<int32_t>(0, host::offset::kJogDirection), 1);
  }
}

TEST(ContinuousJog, IdleWheelTakesNewDirectionAtOnce) {
  ContinuousRig b(JogMode::VelocityJog);
  b.SpeedByte(40);
  EXPECT_EQ(b.Run(1, 2), Calls{"Code \"DOJOG\""});
  EXPECT_EQ(b.Record<int32_t>(0, host::offset::kJogDirection), 1);
}

TEST(ContinuousJog, SwitchedOffOrRefused) {
  struct Case {
    bool led83, led804;
    const char* status;
  };
  const Case cases[] = {{false, false, " Jog OFF. "}, {true, true, ""}};
  for (JogMode mode : {JogMode::VelocityJog, JogMode::RateJog}) {
    for (const Case& c : cases) {
      ContinuousRig b(mode);
      b.Settings().DelaySteps = 0;
      b.host.led[83] = c.led83;
      b.host.led[804] = c.led804;
      b.SpeedByte(40);
      EXPECT_EQ(b.Run(0, 5), Calls{});
      EXPECT_EQ(b.host.StatusText(), c.status);
      EXPECT_EQ(b.Record<uint8_t>(0, host::offset::kJogStartRequest), 0);
    }
  }
}

}  // namespace
}  // namespace km4r::test
