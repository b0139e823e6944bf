// A long, reproducible pendant session through the real entry points: the
// host window's timer drives the report cycle on the virtual pendant while a
// seeded random operator turns the wheel in every mode, presses the E-stop and
// the switch, and plugs and unplugs the pendant. Checked on every cycle: no
// heap allocation, tick counters in range, every continuous jog ended once the
// wheel stops or the pendant goes, and in step jogging no count lost or
// invented. KM4R_SOAK_CYCLES sets the length (default one million cycles,
// about seven hours of use).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/host/alloc_counter.h"
#include "bench/host/in_process_host.h"
#include "bench/host/virtual_pendant.h"
#include "pendant/pendant_window.h"
#include "plugin/exports.h"
#include "plugin/module_state.h"
#include "tests/fuzz/host_text.h"
#include "tests/support/rng.h"
#include "tests/support/test_host_window.h"

namespace km4r::test {
namespace {

// What the session checks of the host calls. Nothing here allocates, so the
// only allocations counted are the plug-in's own.
struct SoakChecks : sim::InProcessHost::Hooks {
  bool jogOpen = false;
  uint64_t doJogs = 0, endJogs = 0, moves = 0, buttons = 0, droWrites = 0;
  // Step-jog accounting, in units of 0.0001.
  bool accounting = false;
  char expectedAxis = 0;
  int64_t movedUnits = 0;
  uint64_t faults = 0;
  char firstFault[256] = {};

  void Fault(const char* what, const char* detail) {
    if (faults++ == 0) std::snprintf(firstFault, sizeof firstFault, "%s: %s", what, detail);
  }
  void DoButton(short code) override {
    ++buttons;
    if (!KnownButton(code)) {
      char n[16];
      std::snprintf(n, sizeof n, "%d", code);
      Fault("unknown button", n);
    }
  }
  void SetDro(short, double) override { ++droWrites; }
  void Code(const char* text) override {
    MoveText move;
    if (!ParseHostCode(text, &move)) return Fault("unknown command text", text);
    if (std::strcmp(text, "DOJOG") == 0) {
      ++doJogs;
      jogOpen = true;
    } else if (std::strcmp(text, "ENDJOG") == 0) {
      ++endJogs;
      jogOpen = false;
    } else if (move.isMove) {
      ++moves;
      if (!accounting) return;
      if (move.rotated || move.axis != expectedAxis) return Fault("move on the wrong axis", text);
      movedUnits += std::llround(move.distance * 1e4);
    }
  }
};

uint64_t CyclesFromEnvironment() {
  const char* v = std::getenv("KM4R_SOAK_CYCLES");
  if (v == nullptr || *v == '\0') return 1000000;
  return std::strtoull(v, nullptr, 10);
}

// A jog still running this many cycles after the wheel stopped or the
// pendant went is a jog nobody will stop.
constexpr int kJogStopCycles = 8;

class Soak {
 public:
  Soak() {
    fake_.record = false;
    fake_.hooks = &host_;
    fake_.Start(window_.Handle());
    fake_.ReadyToJog();
  }
  ~Soak() { StopPlug(); }

  // One 25 ms tick with the current pendant state; the report is queued
  // before counting starts because queueing it is the bus's business.
  void Cycle() {
    const int previous = lastCounter_;
    if (plugged_) pendant_.Queue(p_);
    // Mostly 0 to 2 host Update calls per cycle; now and then the pile-up of
    // a host that calls Update fast or whose UI thread stalled.
    const int updates = rng_.Chance(5) ? rng_.Range(3, 40) : rng_.Below(3);
    pendant_.clock.Advance(kCyclePeriodMs);
    sim::AllocCounter::Start();
    window_.Advance(kCyclePeriodMs);
    for (int i = 0; i < updates; ++i) Update();
    const uint64_t allocations = sim::AllocCounter::Stop();
    ++cycles_;
    if (allocations != 0) {
      ++allocatingCycles_;
      if (firstAllocatingCycle_ == 0) firstAllocatingCycle_ = cycles_;
    }
    CheckTicks();
    // A jog must end once the wheel has stopped or the pendant has gone.
    int delta = (p_.counter - previous) & 0xFF;
    if (delta > 127) delta -= 256;
    lastCounter_ = p_.counter;
    quiet_ = (!plugged_ || (delta == 0 && p_.speed == 0)) ? quiet_ + 1 : 0;
    if (host_.jogOpen && quiet_ > kJogStopCycles) {
      char at[32];
      std::snprintf(at, sizeof at, "cycle %llu", static_cast<unsigned long long>(cycles_));
      host_.Fault("jog left running", at);
      host_.jogOpen = false;
    }
    if (host_.accounting) turnedCounts_ += delta;
  }

  void Turn(int cycles, int minStep, int maxStep, int speedMin) {
    const int direction = rng_.Chance(50) ? 1 : -1;
    for (int i = 0; i < cycles && cycles_ < target_; ++i) {
      const int step = rng_.Range(minStep, maxStep);
      p_.counter = (p_.counter + direction * step) & 0xFF;
      p_.speed = step == 0 ? 0 : rng_.Range(speedMin, 255);
      Cycle();
    }
  }
  void Stop(int cycles) {
    p_.speed = 0;
    for (int i = 0; i < cycles; ++i) Cycle();
  }
  void Select(int mode, int axisSel, int stepSel, int enable) {
    p_.mode = mode;
    p_.axisSel = axisSel;
    p_.stepSel = stepSel;
    p_.enable = enable;
    Stop(3);
  }

  // Step jogging with jogging allowed: every count turned arrives at the host
  // as distance, once held counts have drained.
  void AccountedStepJog() {
    static constexpr double kIncrements[] = {0.0001, 0.001, 0.01, 0.1};
    static constexpr int64_t kUnits[] = {1, 10, 100, 1000};
    static constexpr int32_t kRates[] = {0, 100, 1500};
    const int inc = rng_.Below(4);
    auto& s = Module().settings;
    s.AutoChangeSens = 0;
    s.StepJogRate = kRates[rng_.Below(3)];
    fake_.Set(fake_.blockC, host::offset::kStepIncrement, kIncrements[inc]);
    fake_.Set(fake_.blockB, host::offset::kRotationAngle, 0.0);
    const int axisSel = rng_.Range(1, 3);
    Select(1, axisSel, 1, 0);
    while (pendant_.bus->QueuedInputs(pendant_.id) != 0) Cycle();

    host_.accounting = true;
    host_.expectedAxis = "XYZ"[axisSel - 1];
    host_.movedUnits = 0;
    turnedCounts_ = 0;
    for (int burst = rng_.Range(1, 6); burst > 0 && cycles_ < target_; --burst) {
      // Sometimes the host's move queue is full and counts are held.
      fake_.dro[host::code::kDroMoveLimit] = rng_.Chance(25) ? 25.0 : 3.0;
      Turn(rng_.Range(1, 60), 0, 12, 1);
      fake_.dro[host::code::kDroMoveLimit] = 3.0;
      Stop(rng_.Range(1, 4));
    }
    fake_.dro[host::code::kDroMoveLimit] = 3.0;
    // Held counts leave five a cycle.
    for (int i = 0; i < 1000 && Module().window->jogCountAccumulator != 0; ++i) Cycle();
    Stop(2);
    host_.accounting = false;
    ++accountedSegments_;
    accountedCounts_ += static_cast<uint64_t>(std::llabs(turnedCounts_));
    if (host_.movedUnits != turnedCounts_ * kUnits[inc]) {
      char d[96];
      std::snprintf(d, sizeof d, "turned %lld counts of %g, moved %lld units of 0.0001",
                    static_cast<long long>(turnedCounts_), kIncrements[inc],
                    static_cast<long long>(host_.movedUnits));
      host_.Fault("step jog distance", d);
    }
  }

  // Step jogging off the accounting path: automatic continuous jog,
  // rotated X/Y moves, jogging refused or switched off.
  void FreeStepJog() {
    auto& s = Module().settings;
    s.AutoChangeSens = static_cast<int16_t>(rng_.Range(0, 9));
    fake_.Set(fake_.blockB, host::offset::kRotationAngle, rng_.Chance(50) ? 30.0 : 0.0);
    fake_.led[host::code::kLedJogEnabled] = !rng_.Chance(15);
    fake_.led[host::code::kLedRun] = rng_.Chance(15);
    fake_.led[host::code::kLedRunOverride] = rng_.Chance(50);
    Select(rng_.Chance(80) ? 1 : 2, rng_.Range(1, 4), 1, 0);
    Turn(rng_.Range(5, 200), 0, 20, 1);
    Stop(4);
    s.AutoChangeSens = 0;
    fake_.led[host::code::kLedJogEnabled] = true;
    fake_.led[host::code::kLedRun] = false;
    fake_.Set(fake_.blockB, host::offset::kRotationAngle, 0.0);
  }

  void ContinuousJog(bool rate) {
    static constexpr int32_t kDelays[] = {0, 5, 25, 100};
    Module().settings.DelaySteps = kDelays[rng_.Below(4)];
    Module().settings.VelocityInAuto = static_cast<int16_t>(rng_.Range(0, 9));
    Select(1, rng_.Range(1, 4), rate ? 3 : 2, 0);
    for (int part = rng_.Range(1, 4); part > 0; --part) {
      Turn(rng_.Range(1, 300), 0, 10, 1);
      if (rng_.Chance(30)) Stop(rng_.Range(0, 3));
    }
    Stop(4);
  }

  void FunctionModes() {
    struct Position {
      int mode, axisSel, stepSel;
    };
    static constexpr Position kPositions[] = {{3, 6, 1}, {3, 4, 1}, {3, 5, 1}, {3, 1, 6}, {2, 1, 4},
                                              {2, 2, 5}, {2, 6, 1}, {1, 1, 4}, {1, 2, 5}, {1, 3, 6},
                                              {1, 5, 3}, {2, 4, 2}, {0, 1, 1}, {1, 9, 77}};
    const Position& at = kPositions[rng_.Below(static_cast<int>(std::size(kPositions)))];
    Select(at.mode, at.axisSel, at.stepSel, 0);
    Turn(rng_.Range(1, 80), 0, 6, 1);
    Stop(4);
  }

  void Screens() {
    Module().settings.ScreenSel2 = static_cast<int16_t>(rng_.Range(0, 6));
    if (rng_.Chance(50)) {
      Select(1, 1, rng_.Range(4, 6), 1);
    } else {
      Select(2, rng_.Range(4, 6), 1, 1);
    }
    for (int i = rng_.Range(1, 5); i > 0; --i) {
      Turn(rng_.Range(1, 10), 1, 3, 1);
      Stop(rng_.Range(1, 5));
    }
    p_.enable = 0;
    Stop(3);
  }

  void Estop() {
    p_.estop = 1;
    Stop(rng_.Range(1, 5));
    fake_.led[host::code::kLedReset] = true;
    Stop(rng_.Range(1, 20));
    p_.estop = 0;
    Stop(rng_.Range(1, 5));
    fake_.led[host::code::kLedReset] = false;
    Stop(2);
  }

  // The pendant goes (with or without a removal message) and comes back.
  void PlugCycle() {
    if (rng_.Chance(50)) {
      Select(1, rng_.Range(1, 3), 2, 0);
      Turn(rng_.Range(3, 30), 1, 8, 20);
    }
    pendant_.bus->Unplug(pendant_.id, rng_.Below(4) != 0);
    plugged_ = false;
    Stop(rng_.Range(1, 40));
    pendant_.bus->Plug(pendant_.id, true);
    plugged_ = true;
    if (rng_.Chance(10)) {
      if (other_ < 0) {
        other_ = pendant_.bus->ArriveDevice("/dev/virtual/hid-other", 0x046D, 0xC077, true);
      } else {
        pendant_.bus->Unplug(other_, true);
        pendant_.bus->Plug(other_, true);
      }
    }
    ++replugs_;
    Stop(3);
  }

  void Run(uint64_t cycles) {
    target_ = cycles;
    Stop(4);  // start-up: the first cycles may settle whatever is made lazily
    allocatingCycles_ = 0;
    firstAllocatingCycle_ = 0;
    while (cycles_ < target_) {
      const int pick = rng_.Below(100);
      if (pick < 35) {
        AccountedStepJog();
      } else if (pick < 45) {
        FreeStepJog();
      } else if (pick < 60) {
        ContinuousJog(false);
      } else if (pick < 70) {
        ContinuousJog(true);
      } else if (pick < 85) {
        FunctionModes();
      } else if (pick < 92) {
        Screens();
      } else if (pick < 96) {
        Estop();
      } else {
        PlugCycle();
      }
    }
    Stop(kJogStopCycles + 2);
  }

  void CheckTicks() {
    const TickCounters& t = Module().ticks;
    const bool ok = t.UpdateSequence >= 1 && t.UpdateSequence <= 255 && t.DisplayPhase >= 0 &&
                    t.DisplayPhase <= 100 && t.DirectionChangeTicks >= 0 &&
                    t.DirectionChangeTicks <= 1001 && t.WheelActiveTicks >= 0 &&
                    t.WheelActiveTicks <= 3 && t.DroRestoreTicks >= 0 && t.DroRestoreTicks <= 3;
    if (!ok) host_.Fault("tick counter out of range", "");
  }

  // The bus's read timing, kept in step with the host window's clock.
  sim::VirtualPendant pendant_{"/dev/virtual/hid-soak"};
  sim::InProcessHost fake_;  // it resets the module state
  TestHostWindow window_;
  SoakChecks host_;
  int other_ = -1;
  bool plugged_ = true;
  // The operator's hands on the pendant.
  sim::InputFields p_{.axisSel = 1, .mode = 1, .stepSel = 1};
  Rng rng_{20240607};
  uint64_t target_ = 0;
  uint64_t cycles_ = 0;
  uint64_t allocatingCycles_ = 0;
  uint64_t firstAllocatingCycle_ = 0;
  int lastCounter_ = 0;
  int quiet_ = 0;
  int64_t turnedCounts_ = 0;
  uint64_t accountedSegments_ = 0;
  uint64_t accountedCounts_ = 0;
  uint64_t replugs_ = 0;
};

TEST(Soak, LongSessionKeepsItsPromises) {
  const uint64_t cycles = CyclesFromEnvironment();
  Soak soak;
  soak.Run(cycles);

  std::printf(
      "%llu cycles (%.1f h of use): %llu moves, %llu DOJOG, %llu ENDJOG, %llu buttons, "
      "%llu DRO writes, %llu accounted step-jog segments over %llu counts, %llu replugs\n",
      static_cast<unsigned long long>(soak.cycles_), soak.cycles_ * 0.025 / 3600.0,
      static_cast<unsigned long long>(soak.host_.moves),
      static_cast<unsigned long long>(soak.host_.doJogs),
      static_cast<unsigned long long>(soak.host_.endJogs),
      static_cast<unsigned long long>(soak.host_.buttons),
      static_cast<unsigned long long>(soak.host_.droWrites),
      static_cast<unsigned long long>(soak.accountedSegments_),
      static_cast<unsigned long long>(soak.accountedCounts_),
      static_cast<unsigned long long>(soak.replugs_));

  EXPECT_EQ(soak.allocatingCycles_, 0u) << "first allocating cycle: " << soak.firstAllocatingCycle_;
  EXPECT_EQ(soak.host_.faults, 0u) << soak.host_.firstFault;
  EXPECT_FALSE(soak.host_.jogOpen);
  EXPECT_EQ(soak.pendant_.bus->QueuedInputs(soak.pendant_.id), 0u);
  // The session reached every part it claims to cover.
  EXPECT_GE(soak.cycles_, cycles);
  if (cycles >= 100000) {
    EXPECT_GT(soak.host_.moves, 1000u);
    EXPECT_GT(soak.host_.doJogs, 1000u);
    EXPECT_GT(soak.accountedSegments_, 50u);
    EXPECT_GT(soak.replugs_, 10u);
  }
}

}  // namespace
}  // namespace km4r::test
