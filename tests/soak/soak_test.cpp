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

#include "pendant/pendant_window.h"
#include "platform/clock.h"
#include "platform/host_string.h"
#include "platform/virtual/virtual_bus.h"
#include "plugin/exports.h"
#include "plugin/module_state.h"
#include "tests/fuzz/host_text.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/fake_host.h"
#include "tests/support/rng.h"
#include "tests/support/test_host_window.h"

namespace km4r::test {
namespace {

// The host side of the session. Its callbacks record into fixed storage so
// that the only allocations counted are the plug-in's own.
struct SoakHost {
  double dro[1101] = {};
  bool led[1101] = {};
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
};
SoakHost* g_host = nullptr;

void OnDoButton(short code) {
  ++g_host->buttons;
  if (!KnownButton(code)) {
    char n[16];
    std::snprintf(n, sizeof n, "%d", code);
    g_host->Fault("unknown button", n);
  }
}
void OnSetDro(short code, double value) {
  ++g_host->droWrites;
  if (code >= 0 && code <= 1100) g_host->dro[code] = value;
}
double OnGetDro(short code) {
  return code >= 0 && code <= 1100 ? g_host->dro[code] : 0.0;
}
bool OnGetLed(short code) {
  return code >= 0 && code <= 1100 && g_host->led[code];
}
void OnSetLed(short, bool) {}
void OnCode(const char* text) {
  SoakHost& h = *g_host;
  MoveText move;
  if (!ParseHostCode(text, &move)) return h.Fault("unknown command text", text);
  if (std::strcmp(text, "DOJOG") == 0) {
    ++h.doJogs;
    h.jogOpen = true;
  } else if (std::strcmp(text, "ENDJOG") == 0) {
    ++h.endJogs;
    h.jogOpen = false;
  } else if (move.isMove) {
    ++h.moves;
    if (!h.accounting) return;
    if (move.rotated || move.axis != h.expectedAxis) return h.Fault("move on the wrong axis", text);
    h.movedUnits += std::llround(move.distance * 1e4);
  }
}

// The operator's hands on the pendant.
struct Pendant {
  int counter = 0;
  int speed = 0;
  int axisSel = 1;
  int enable = 0;
  int estop = 0;
  int mode = 1;
  int stepSel = 1;
  void Report(uint8_t* r) const {
    std::memset(r, 0, kInputReportSize);
    r[1] = static_cast<uint8_t>(counter & 0xFF);
    r[2] = static_cast<uint8_t>(speed);
    r[3] = static_cast<uint8_t>((axisSel & 0x0F) | (enable & 1) << 4 | (estop & 1) << 5 |
                                (mode & 3) << 6);
    r[4] = static_cast<uint8_t>(stepSel & 0x7F);
  }
};

uint64_t CyclesFromEnvironment() {
  const char* v = std::getenv("KM4R_SOAK_CYCLES");
  if (v == nullptr || *v == '\0') return 1000000;
  return std::strtoull(v, nullptr, 10);
}

constexpr const char* kPath = "/dev/virtual/hid-soak";
// A jog still running this many cycles after the wheel stopped or the
// pendant went is a jog nobody will stop.
constexpr int kJogStopCycles = 8;

class Soak {
 public:
  Soak() : bus_(KM4R_VirtualBus()) {
    bus_->Reset();
    bus_->SetClock(&clock_);
    id_ = bus_->AddDevice(kPath, kPendantVendorId, kPendantProductId);
    g_host = &host_;
    SetDoButton(OnDoButton);
    SetSetDRO(OnSetDro);
    SetGetDRO(OnGetDro);
    SetGetLED(OnGetLed);
    SetSetLED(OnSetLed);
    SetCode(OnCode);
    SetProName(platform::HostStringArgument(""));
    fake_.window = window_.Handle();
    const host::Blocks b = fake_.Blocks();
    InitControl(b.a, b.b, b.c, b.d);
    PostInitControl();
    for (int axis = 0; axis < host::kAxisCount; ++axis)
      fake_.Set(fake_.blockC, host::offset::kAxisVelocityLimit + 4 * axis, int32_t{12000});
    host_.dro[3] = 50.0;
    host_.dro[818] = 37.5;
    host_.dro[821] = 100.0;
    host_.dro[74] = 100.0;
    host_.led[host::code::kLedJogEnabled] = true;
  }
  ~Soak() {
    StopPlug();
    platform::HostString::ReleaseAt(host::StatusTextSlot(fake_.Blocks()));
    bus_->Reset();
    g_host = nullptr;
  }

  // One 25 ms tick with the current pendant state; the report is queued
  // before counting starts because queueing it is the bus's business.
  void Cycle() {
    const int previous = lastCounter_;
    if (plugged_) {
      uint8_t r[kInputReportSize];
      p_.Report(r);
      bus_->QueueInput(id_, r, sizeof r);
    }
    // Mostly 0 to 2 host Update calls per cycle; now and then the pile-up of
    // a host that calls Update fast or whose UI thread stalled.
    const int updates = rng_.Chance(5) ? rng_.Range(3, 40) : rng_.Below(3);
    clock_.Advance(kCyclePeriodMs);
    AllocCounter::Start();
    window_.Advance(kCyclePeriodMs);
    for (int i = 0; i < updates; ++i) Update();
    const uint64_t allocations = AllocCounter::Stop();
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
    while (bus_->QueuedInputs(id_) != 0) Cycle();

    host_.accounting = true;
    host_.expectedAxis = "XYZ"[axisSel - 1];
    host_.movedUnits = 0;
    turnedCounts_ = 0;
    for (int burst = rng_.Range(1, 6); burst > 0 && cycles_ < target_; --burst) {
      // Sometimes the host's move queue is full and counts are held.
      host_.dro[host::code::kDroMoveLimit] = rng_.Chance(25) ? 25.0 : 3.0;
      Turn(rng_.Range(1, 60), 0, 12, 1);
      host_.dro[host::code::kDroMoveLimit] = 3.0;
      Stop(rng_.Range(1, 4));
    }
    host_.dro[host::code::kDroMoveLimit] = 3.0;
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
    host_.led[host::code::kLedJogEnabled] = !rng_.Chance(15);
    host_.led[host::code::kLedRun] = rng_.Chance(15);
    host_.led[host::code::kLedRunOverride] = rng_.Chance(50);
    Select(rng_.Chance(80) ? 1 : 2, rng_.Range(1, 4), 1, 0);
    Turn(rng_.Range(5, 200), 0, 20, 1);
    Stop(4);
    s.AutoChangeSens = 0;
    host_.led[host::code::kLedJogEnabled] = true;
    host_.led[host::code::kLedRun] = false;
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
    host_.led[host::code::kLedReset] = true;
    Stop(rng_.Range(1, 20));
    p_.estop = 0;
    Stop(rng_.Range(1, 5));
    host_.led[host::code::kLedReset] = false;
    Stop(2);
  }

  // The pendant goes (with or without a removal message) and comes back.
  void PlugCycle() {
    if (rng_.Chance(50)) {
      Select(1, rng_.Range(1, 3), 2, 0);
      Turn(rng_.Range(3, 30), 1, 8, 20);
    }
    bus_->Unplug(id_, rng_.Below(4) != 0);
    plugged_ = false;
    Stop(rng_.Range(1, 40));
    bus_->Plug(id_, true);
    plugged_ = true;
    if (rng_.Chance(10)) {
      if (other_ < 0) {
        other_ = bus_->ArriveDevice("/dev/virtual/hid-other", 0x046D, 0xC077, true);
      } else {
        bus_->Unplug(other_, true);
        bus_->Plug(other_, true);
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

  FakeHost fake_;  // first: it resets the module state
  TestHostWindow window_;
  // The bus's read timing, kept in step with the host window's clock.
  platform::VirtualClock clock_;
  SoakHost host_;
  platform::VirtualBus* bus_;
  int id_ = -1;
  int other_ = -1;
  bool plugged_ = true;
  Pendant p_;
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
  EXPECT_EQ(soak.bus_->QueuedInputs(soak.id_), 0u);
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
