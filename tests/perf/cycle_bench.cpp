// Cost of one report cycle on the virtual pendant (read, decode, jog engine,
// display, write) in each jog mode, with the host callbacks it makes and the
// heap allocations it does, counted per cycle.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "pendant/pendant_window.h"
#include "platform/clock.h"
#include "platform/virtual/virtual_bus.h"
#include "plugin/module_state.h"
#include "tests/support/alloc_counter.h"

namespace {

using km4r::Module;
using km4r::PendantWindow;
using km4r::test::AllocCounter;

// A host that answers from tables and only counts: its own cost stays out of
// the figures.
struct CountingHost {
  double dro[1101] = {};
  bool led[1101] = {};
  uint64_t calls = 0;
  uint64_t reads = 0;
  std::unique_ptr<unsigned char[]> a{new unsigned char[km4r::host::kBlockASize]()};
  std::unique_ptr<unsigned char[]> b{new unsigned char[km4r::host::kBlockBSize]()};
  std::unique_ptr<unsigned char[]> c{new unsigned char[km4r::host::kBlockCSize]()};
};
CountingHost* g_host = nullptr;

void OnDoButton(short) {
  ++g_host->calls;
}
void OnSetDro(short code, double v) {
  ++g_host->calls;
  g_host->dro[code] = v;
}
double OnGetDro(short code) {
  ++g_host->reads;
  return g_host->dro[code];
}
bool OnGetLed(short code) {
  ++g_host->reads;
  return g_host->led[code];
}
void OnSetLed(short, bool) {}
void OnCode(const char*) {
  ++g_host->calls;
}

struct Position {
  const char* name;
  int mode, axisSel, stepSel, speed, step;
};
constexpr Position kPositions[] = {
    {"StepJog", 1, 1, 1, 40, 3},
    {"VelocityJog", 1, 2, 2, 80, 4},
    {"RateJog", 1, 3, 3, 80, 4},
    {"JogRateAdjust", 3, 6, 1, 30, 2},
    {"FeedOverrideAdjust", 3, 4, 1, 30, 2},
    {"SpindleOverrideAdjust", 3, 5, 1, 30, 2},
    {"StepSizeSelect", 2, 1, 4, 30, 1},
    {"AxisZero", 2, 1, 5, 30, 1},
    {"ScreenSelect", 3, 1, 6, 30, 1},
    {"StepJog, wheel at rest", 1, 1, 1, 0, 0},
};

void ReportCycle(benchmark::State& state) {
  const Position& at = kPositions[state.range(0)];
  CountingHost host;
  g_host = &host;
  km4r::ResetModuleState();
  Module().callbacks =
      km4r::host::Callbacks{OnDoButton, OnSetDro, OnGetDro, OnGetLed, OnSetLed, OnCode};
  Module().blocks = km4r::host::Blocks{host.a.get(), host.b.get(), host.c.get(), nullptr};
  km4r::host::Store(host.c.get(), km4r::host::offset::kStepIncrement, 0.001);
  km4r::host::Store(host.c.get(), km4r::host::offset::kAxisVelocityLimit, int32_t{12000});
  host.led[83] = true;
  host.dro[3] = host.dro[821] = host.dro[74] = 100.0;
  Module().settings.StepJogRate = 100;
  Module().settings.StepSize1 = 2;
  Module().settings.StepSize2 = 3;
  Module().settings.ScreenSel1 = 1;
  Module().settings.ScreenSel2 = 2;
  Module().settings.VelocityInAuto = 5;

  km4r::platform::VirtualClock clock;
  auto* bus = KM4R_VirtualBus();
  bus->Reset();
  bus->SetClock(&clock);
  const int id =
      bus->AddDevice("/dev/virtual/hid-perf", km4r::kPendantVendorId, km4r::kPendantProductId);
  auto w = std::make_unique<PendantWindow>();
  w->OpenPendant();

  uint8_t report[km4r::kInputReportSize] = {};
  int counter = 0;
  uint64_t cycles = 0, allocations = 0;
  const uint64_t callsBefore = host.calls, readsBefore = host.reads;
  constexpr int kBatch = 256;
  for (auto _ : state) {
    if (cycles % kBatch == 0) {
      // Queueing belongs to the device, not to the cycle.
      state.PauseTiming();
      AllocCounter::Stop();
      for (int i = 0; i < kBatch; ++i) {
        // Forward and back so that adjusted values stay within their limits.
        counter = (counter + ((cycles / 512) % 2 == 0 ? at.step : -at.step)) & 0xFF;
        report[1] = static_cast<uint8_t>(counter);
        report[2] = static_cast<uint8_t>(at.speed);
        report[3] = static_cast<uint8_t>(at.axisSel | at.mode << 6);
        report[4] = static_cast<uint8_t>(at.stepSel);
        bus->QueueInput(id, report, sizeof report);
      }
      AllocCounter::Start();
      state.ResumeTiming();
    }
    clock.Advance(km4r::kCyclePeriodMs);
    w->RunReportCycle(km4r::kCycleTimerId);
    // The host's Update calls come at about the cycle's rate.
    Module().ticks.Advance();
    ++cycles;
  }
  allocations = AllocCounter::Stop();
  state.counters["host_calls/cycle"] =
      static_cast<double>(host.calls - callsBefore) / static_cast<double>(cycles);
  state.counters["host_reads/cycle"] =
      static_cast<double>(host.reads - readsBefore) / static_cast<double>(cycles);
  state.counters["allocs/cycle"] = static_cast<double>(allocations) / static_cast<double>(cycles);
  state.SetLabel(at.name);
  w.reset();
  bus->Reset();
  km4r::ResetModuleState();
  g_host = nullptr;
}
BENCHMARK(ReportCycle)->DenseRange(0, static_cast<int>(std::size(kPositions)) - 1);

// The display on its own: the host reads one composition makes.
void ComposeDisplay(benchmark::State& state) {
  const Position& at = kPositions[state.range(0)];
  CountingHost host;
  g_host = &host;
  km4r::ResetModuleState();
  Module().callbacks =
      km4r::host::Callbacks{OnDoButton, OnSetDro, OnGetDro, OnGetLed, OnSetLed, OnCode};
  PendantWindow w;
  const int32_t modes[] = {km4r::StepJog,
                           km4r::VelocityJog,
                           km4r::RateJog,
                           km4r::JogRateAdjust,
                           km4r::FeedOverrideAdjust,
                           km4r::SpindleOverrideAdjust,
                           km4r::StepSizeSelect,
                           km4r::AxisZero,
                           km4r::ScreenSelect,
                           km4r::Idle};
  w.jogMode = modes[state.range(0)];
  w.displayCycle = 100;
  uint64_t n = 0;
  for (auto _ : state) {
    w.ComposeDisplay();
    ++n;
  }
  state.counters["display_callbacks/cycle"] =
      static_cast<double>(host.reads + host.calls) / static_cast<double>(n);
  state.SetLabel(state.range(0) == 9 ? "Idle" : at.name);
  km4r::ResetModuleState();
  g_host = nullptr;
}
BENCHMARK(ComposeDisplay)->DenseRange(0, static_cast<int>(std::size(kPositions)) - 1);

}  // namespace

BENCHMARK_MAIN();
