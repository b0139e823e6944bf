// The module's host actions as LinuxCNC sees them: counts, jog bits,
// pulses, the E-stop latch and the overrides, and what stops them.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "bench/profile_edit.h"
#include "bench/temp_dir.h"
#include "hal/ini_settings.h"
#include "hal/pendant_host.h"
#include "plugin/host_interface.h"

namespace km4r::hal {
namespace {

namespace code = host::code;

struct Rig {
  sim::HostSim state;
  PendantHost host{state};
  Inputs in;
  uint64_t now = 1000;
  Rig() {
    in.machineOn = true;
    Sample();
  }
  int32_t jogAxis = -1;  // the module's status
  void Sample() { host.Sample(in, now); }
  const Outputs& Publish() { return host.Publish(jogAxis); }
  void Jog(int axis, int32_t speed, int32_t direction) {
    unsigned char* a = state.blockA.data();
    host::Store(a, host::JogRecordField(axis, host::offset::kJogSpeed), speed);
    host::Store(a, host::JogRecordField(axis, host::offset::kJogDirection), direction);
    host::Store(a, host::JogRecordField(axis, host::offset::kJogStopRequest), uint8_t{0});
    host::Store(a, host::JogRecordField(axis, host::offset::kJogStartRequest), uint8_t{1});
    host.Code("DOJOG");
  }
};

struct StepCase {
  const char* name;
  double step;
  std::vector<const char*> texts;
  std::array<int32_t, kAxes> counts;
};

TEST(PendantHost, StepMovesBecomeWholeCountsAtTheStepSize) {
  const StepCase cases[] = {
      {"five steps", 0.01, {"G91G1 F100 X 0.0500"}, {5, 0, 0, 0, 0, 0}},
      {"backwards, no feed word", 0.001, {"G91G1 Z -0.0030"}, {0, 0, -3, 0, 0, 0}},
      {"rotated, both axes", 0.001, {"G91G1 X0.0010 Y-0.0017 "}, {1, -2, 0, 0, 0, 0}},
      // A part step is carried, never lost and never rounded up twice.
      {"parts carried",
       0.001,
       {"G91G1 Y 0.0004", "G91G1 Y 0.0004", "G91G1 Y 0.0004"},
       {0, 1, 0, 0, 0, 0}},
      {"not a move", 0.01, {"G90", "G91", "M3"}, {0, 0, 0, 0, 0, 0}},
  };
  for (const StepCase& c : cases) {
    Rig r;
    r.host.SetDro(code::kDroStepSize, c.step);
    for (const char* t : c.texts) r.host.Code(t);
    const Outputs& out = r.Publish();
    EXPECT_EQ(out.jogCounts, c.counts) << c.name;
    EXPECT_DOUBLE_EQ(out.jogScale[0], c.step) << c.name;
  }
}

TEST(PendantHost, ContinuousJogRunsUntilEndjog) {
  Rig r;
  r.Jog(0, 914, 1);
  Outputs out = r.Publish();
  EXPECT_TRUE(out.jogMinus[0]);
  EXPECT_FALSE(out.jogPlus[0]);
  EXPECT_DOUBLE_EQ(out.jogVelocity[0], -914.0);
  EXPECT_DOUBLE_EQ(out.jogSpeed, 914.0);
  r.host.Code("ENDJOG");
  out = r.Publish();
  EXPECT_FALSE(out.jogMinus[0]);
  EXPECT_DOUBLE_EQ(out.jogSpeed, 0.0);
}

// Every LinuxCNC state that forbids motion drops a running jog and refuses
// new counts, and the module reads it as the host's LEDs.
TEST(PendantHost, NothingMovesUnlessLinuxCncAllowsIt) {
  const std::function<void(Inputs&)> blocks[] = {
      [](Inputs& in) { in.machineOn = false; },
      [](Inputs& in) { in.programRunning = true; },
      [](Inputs& in) { in.programPaused = true; },
      [](Inputs& in) { in.estopActive = true; },
  };
  for (std::size_t i = 0; i < std::size(blocks); ++i) {
    Rig r;
    r.jogAxis = 1;
    r.Jog(1, 500, 0);
    blocks[i](r.in);
    r.Sample();
    r.host.Code("G91G1 Y 0.0100");
    r.Jog(1, 500, 0);
    const Outputs& out = r.Publish();
    EXPECT_FALSE(out.jogPlus[1]) << i;
    EXPECT_FALSE(out.jogEnable[1]) << i;
    EXPECT_EQ(out.jogCounts[1], 0) << i;
    const bool moduleSeesIt = !r.state.led[code::kLedJogEnabled] || r.state.led[code::kLedRun] ||
                              r.state.led[code::kLedPause] || r.state.led[code::kLedReset];
    EXPECT_TRUE(moduleSeesIt) << i;
  }
}

// Only the axis the pendant's selectors give the wheel is enabled, and only
// while LinuxCNC allows motion and the pendant's E-stop is released.
TEST(PendantHost, JogEnableFollowsTheSelectedAxis) {
  const struct {
    int32_t jogAxis;
    bool machineOn;
    bool pendantEstop;
    std::array<bool, kAxes> enabled;
  } rows[] = {
      {0, true, false, {true, false, false, false, false, false}},
      {2, true, false, {false, false, true, false, false, false}},
      {4, true, false, {false, false, false, false, true, false}},
      {-1, true, false, {}},
      {1, false, false, {}},
      {1, true, true, {}},
  };
  for (const auto& row : rows) {
    Rig r;
    r.in.machineOn = row.machineOn;
    r.Sample();
    if (row.pendantEstop) r.host.DoButton(code::kButtonEstop);
    r.jogAxis = row.jogAxis;
    EXPECT_EQ(r.Publish().jogEnable, row.enabled) << row.jogAxis;
  }
}

TEST(PendantHost, PendantEstopLatchesUntilReleasedAndStopsTheJog) {
  Rig r;
  r.Jog(0, 500, 0);
  r.host.DoButton(code::kButtonEstop);  // engaged
  EXPECT_TRUE(r.Publish().estop);
  EXPECT_FALSE(r.Publish().jogPlus[0]);
  r.Sample();
  // Lit, so the module does not press again while the switch is held.
  EXPECT_TRUE(r.state.led[code::kLedReset]);
  r.Jog(0, 500, 0);
  EXPECT_FALSE(r.Publish().jogPlus[0]);
  r.host.DoButton(code::kButtonEstop);  // released
  r.Sample();
  EXPECT_FALSE(r.Publish().estop);
  EXPECT_FALSE(r.state.led[code::kLedReset]);
}

TEST(PendantHost, HaltLeavesNothingEnabled) {
  Rig r;
  r.jogAxis = 2;
  r.Jog(2, 300, 0);
  r.host.Halt();
  const Outputs& out = r.Publish();
  EXPECT_FALSE(out.jogPlus[2]);
  EXPECT_FALSE(out.jogEnable[2]);
}

TEST(PendantHost, ZeroIsAPulseOfFourCycles) {
  Rig r;
  r.host.DoButton(static_cast<short>(code::kButtonZeroX + 2));
  std::vector<bool> seen;
  for (int i = 0; i < 6; ++i) seen.push_back(r.Publish().zero[2]);
  EXPECT_EQ(seen, (std::vector<bool>{true, true, true, true, false, false}));
  EXPECT_FALSE(r.Publish().zero[0]);
}

TEST(PendantHost, OverridesGoOutAsCountsAndComeBackFromLinuxCnc) {
  {
    // Before halui first reports, its value pin reads 0: not LinuxCNC's
    // override, so it must not go back out as counts of 0.
    sim::HostSim state;
    PendantHost starting{state};
    Inputs halui;
    halui.feedOverride = halui.spindleOverride = 0.0;
    starting.Sample(halui, 0);
    EXPECT_EQ(starting.Publish(-1).feedCounts, 1000);
    EXPECT_EQ(starting.Publish(-1).spindleCounts, 1000);
  }
  Rig r;
  r.host.SetDro(code::kDroFeedOverride, 110.381);
  EXPECT_EQ(r.Publish().feedCounts, 1104);
  // LinuxCNC echoing an older value right after the module's change is no
  // operator's change: the module's value stands.
  r.now += 100;
  r.in.feedOverride = 1.05;
  r.Sample();
  EXPECT_DOUBLE_EQ(r.state.dro[code::kDroFeedOverride], 110.381);
  // Later, a change made elsewhere (the GUI's slider) is taken over.
  r.now += 1000;
  r.in.feedOverride = 0.8;
  r.Sample();
  EXPECT_DOUBLE_EQ(r.state.dro[code::kDroFeedOverride], 80.0);
  // Once LinuxCNC has reported, 0 % is an override like any other.
  r.now += 1000;
  r.in.feedOverride = 0.0;
  r.Sample();
  EXPECT_EQ(r.Publish().feedCounts, 0);
  r.in.spindleOverride = 1.2;
  r.Sample();
  EXPECT_EQ(r.Publish().spindleCounts, 1200);
}

TEST(PendantHost, LinuxCncStateReachesTheModule) {
  Rig r;
  r.in.position = {1.5, -2.25, 3.0, 0, 0, 0};
  r.in.maxVelocity[0] = 30.48;
  r.in.spindleSpeed = 1200;
  r.in.inPosition = false;
  r.Sample();
  EXPECT_DOUBLE_EQ(r.state.dro[code::kDroAxisPositionBase + 1], -2.25);
  EXPECT_DOUBLE_EQ(r.state.dro[code::kDroSpindleRpm], 1200);
  const host::Blocks b{r.state.blockA.data(), r.state.blockB.data(), r.state.blockC.data(),
                       nullptr};
  EXPECT_EQ(host::AxisVelocityLimit(b, 0), 1829);  // units per minute
  EXPECT_NE(host::MotionQueueIn(b), host::MotionQueueOut(b));
  EXPECT_NE(host::DistanceMode(b), 0);  // no "G90" after the module's steps
}

// Only the profile keys of [KM4R] reach the profile, with their values as written.
TEST(IniSettings, KeysOfTheSectionBecomeTheProfile) {
  bench::TempDir dir;
  const std::string profile = (dir.path() / "profile.xml").string();
  std::string error;
  ASSERT_TRUE(
      WriteIniSettings("[DISPLAY]\nDecidigit = 1\n[KM4R]\nSCENARIO = demo.scn\n"
                       "# DelaySteps = 9\n DelaySteps = 40 \nCAmode=1\n[AXIS_X]\nCAmode = 0\n",
                       profile, &error))
      << error;
  std::vector<std::pair<std::string, std::string>> keys;
  ASSERT_TRUE(bench::ReadPendantSection(profile, &keys, &error)) << error;
  EXPECT_EQ(keys, (std::vector<std::pair<std::string, std::string>>{{"DelaySteps", "40"},
                                                                    {"CAmode", "1"}}));
}

}  // namespace
}  // namespace km4r::hal
