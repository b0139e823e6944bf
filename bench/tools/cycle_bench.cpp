// Cost of one report cycle on the virtual pendant (read, decode, jog engine,
// display, write) in each jog mode, with the host callbacks it makes and the
// heap allocations it does, counted per cycle.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "bench/host/alloc_counter.h"
#include "bench/host/in_process_host.h"
#include "bench/host/virtual_pendant.h"
#include "pendant/pendant_window.h"
#include "plugin/module_state.h"

namespace {

using km4r::JogMode;
using km4r::Module;
using km4r::PendantWindow;
using km4r::sim::AllocCounter;

// The tests' host with recording off: it answers from tables and only
// counts, so its own cost stays out of the figures.
struct CountingHost : km4r::sim::InProcessHost::Hooks {
  km4r::sim::InProcessHost host;  // first: it resets the module state
  uint64_t actions = 0;
  CountingHost() {
    host.record = false;
    host.hooks = this;
  }
  void DoButton(short) override { ++actions; }
  void SetDro(short, double) override { ++actions; }
  void Code(const char*) override { ++actions; }
  uint64_t Reads() const {
    return static_cast<uint64_t>(host.getDroCalls) + static_cast<uint64_t>(host.getLedCalls);
  }
};

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
  CountingHost counting;
  km4r::sim::InProcessHost& host = counting.host;
  host.Set(host.blockC, km4r::host::offset::kStepIncrement, 0.001);
  host.Set(host.blockC, km4r::host::offset::kAxisVelocityLimit, int32_t{12000});
  host.led[83] = true;
  host.dro[3] = host.dro[821] = host.dro[74] = 100.0;
  Module().settings.StepJogRate = 100;
  Module().settings.StepSize1 = 2;
  Module().settings.StepSize2 = 3;
  Module().settings.ScreenSel1 = 1;
  Module().settings.ScreenSel2 = 2;
  Module().settings.VelocityInAuto = 5;

  km4r::sim::VirtualPendant device("/dev/virtual/hid-perf");
  auto w = std::make_unique<PendantWindow>();
  w->OpenPendant();

  km4r::sim::InputFields report{.axisSel = at.axisSel, .mode = at.mode, .stepSel = at.stepSel};
  report.speed = at.speed;
  uint64_t cycles = 0, allocations = 0;
  const uint64_t callsBefore = counting.actions, readsBefore = counting.Reads();
  constexpr int kBatch = 256;
  for (auto _ : state) {
    if (cycles % kBatch == 0) {
      // Queueing belongs to the device, not to the cycle.
      state.PauseTiming();
      AllocCounter::Stop();
      for (int i = 0; i < kBatch; ++i) {
        // Forward and back so that adjusted values stay within their limits.
        report.counter = (report.counter + ((cycles / 512) % 2 == 0 ? at.step : -at.step)) & 0xFF;
        device.Queue(report);
      }
      AllocCounter::Start();
      state.ResumeTiming();
    }
    device.clock.Advance(km4r::kCyclePeriodMs);
    w->RunReportCycle(km4r::kCycleTimerId);
    // The host's Update calls come at about the cycle's rate.
    Module().ticks.Advance();
    ++cycles;
  }
  allocations = AllocCounter::Stop();
  state.counters["host_calls/cycle"] =
      static_cast<double>(counting.actions - callsBefore) / static_cast<double>(cycles);
  state.counters["host_reads/cycle"] =
      static_cast<double>(counting.Reads() - readsBefore) / static_cast<double>(cycles);
  state.counters["allocs/cycle"] = static_cast<double>(allocations) / static_cast<double>(cycles);
  state.SetLabel(at.name);
  w.reset();
}
BENCHMARK(ReportCycle)->DenseRange(0, static_cast<int>(std::size(kPositions)) - 1);

// The display on its own: the host reads one composition makes.
void ComposeDisplay(benchmark::State& state) {
  const Position& at = kPositions[state.range(0)];
  CountingHost counting;
  PendantWindow w;
  const JogMode modes[] = {JogMode::StepJog,
                           JogMode::VelocityJog,
                           JogMode::RateJog,
                           JogMode::JogRateAdjust,
                           JogMode::FeedOverrideAdjust,
                           JogMode::SpindleOverrideAdjust,
                           JogMode::StepSizeSelect,
                           JogMode::AxisZero,
                           JogMode::ScreenSelect,
                           JogMode::Idle};
  w.jogMode = modes[state.range(0)];
  w.displayCycle = 100;
  uint64_t n = 0;
  for (auto _ : state) {
    w.ComposeDisplay();
    ++n;
  }
  state.counters["display_callbacks/cycle"] =
      static_cast<double>(counting.Reads() + counting.actions) / static_cast<double>(n);
  state.SetLabel(state.range(0) == 9 ? "Idle" : at.name);
}
BENCHMARK(ComposeDisplay)->DenseRange(0, static_cast<int>(std::size(kPositions)) - 1);

}  // namespace

BENCHMARK_MAIN();
