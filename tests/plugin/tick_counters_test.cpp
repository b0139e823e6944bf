#include <gtest/gtest.h>

#include "bench/host/in_process_host.h"
#include "plugin/exports.h"
#include "plugin/module_state.h"

namespace km4r {
namespace {

TickCounters& Ticks() {
  return Module().ticks;
}

void UpdateTimes(int n) {
  for (int i = 0; i < n; ++i) ::Update();
}

TEST(TickCounters, InitialValues) {
  sim::InProcessHost host;
  EXPECT_EQ(Ticks().UpdateSequence, 1);
  EXPECT_EQ(Ticks().DisplayPhase, 100);
  EXPECT_EQ(Ticks().DirectionChangeTicks, 100);
  EXPECT_EQ(Ticks().WheelActiveTicks, 0);
  EXPECT_EQ(Ticks().DroRestoreTicks, 0);
}

TEST(TickCounters, UpdateSequenceRunsTwoTo255) {
  sim::InProcessHost host;
  UpdateTimes(254);
  EXPECT_EQ(Ticks().UpdateSequence, 255);
  UpdateTimes(1);
  EXPECT_EQ(Ticks().UpdateSequence, 2);
  UpdateTimes(253);
  EXPECT_EQ(Ticks().UpdateSequence, 255);
  UpdateTimes(1);
  EXPECT_EQ(Ticks().UpdateSequence, 2);
}

TEST(TickCounters, DisplayPhaseRunsDownFrom99ThenPeriod25) {
  sim::InProcessHost host;
  UpdateTimes(1);
  EXPECT_EQ(Ticks().DisplayPhase, 99);
  UpdateTimes(99);
  EXPECT_EQ(Ticks().DisplayPhase, 0);
  UpdateTimes(1);
  EXPECT_EQ(Ticks().DisplayPhase, 24);
  UpdateTimes(24);
  EXPECT_EQ(Ticks().DisplayPhase, 0);
  UpdateTimes(1);
  EXPECT_EQ(Ticks().DisplayPhase, 24);
}

TEST(TickCounters, DirectionChangeTicksWrapsAt1001To101) {
  sim::InProcessHost host;
  int highest = 0;
  int afterWrap = 0;
  for (int i = 0; i < 2000; ++i) {
    const int before = Ticks().DirectionChangeTicks;
    ::Update();
    highest = std::max(highest, Ticks().DirectionChangeTicks);
    if (before == 1001) afterWrap = Ticks().DirectionChangeTicks;
  }
  EXPECT_EQ(highest, 1001);
  EXPECT_EQ(afterWrap, 101);
  // Armed to 0 by a reversal, it climbs from there.
  Ticks().DirectionChangeTicks = 0;
  UpdateTimes(3);
  EXPECT_EQ(Ticks().DirectionChangeTicks, 3);
}

TEST(TickCounters, CountdownsStopAtZero) {
  sim::InProcessHost host;
  Ticks().WheelActiveTicks = 3;
  Ticks().DroRestoreTicks = 2;
  const int expectedWheel[] = {2, 1, 0, 0, 0};
  const int expectedRestore[] = {1, 0, 0, 0, 0};
  for (int i = 0; i < 5; ++i) {
    ::Update();
    EXPECT_EQ(Ticks().WheelActiveTicks, expectedWheel[i]) << "update " << i + 1;
    EXPECT_EQ(Ticks().DroRestoreTicks, expectedRestore[i]) << "update " << i + 1;
  }
}

TEST(TickCounters, UpdateMakesNoHostCall) {
  sim::InProcessHost host;
  UpdateTimes(500);
  EXPECT_EQ(host.TotalCallbacks(), 0);
}

}  // namespace
}  // namespace km4r
