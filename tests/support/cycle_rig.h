// The jog engine and the display reached as the pendant reaches them:
// reports on the virtual pendant through the report cycle, against a
// recording host, with the engine's usual preconditions (jogging enabled in
// the host, the host in incremental mode so that no G90 is owed).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/host/in_process_host.h"
#include "bench/host/virtual_pendant.h"
#include "pendant/pendant_window.h"
#include "plugin/module_state.h"

namespace km4r::test {

using Calls = std::vector<std::string>;

struct CycleRig {
  sim::VirtualPendant pendant{"/dev/virtual/hid-jog"};
  sim::InProcessHost host;  // it resets the module state
  std::unique_ptr<PendantWindow> window = std::make_unique<PendantWindow>();
  PendantWindow& w = *window;
  sim::InputFields report;

  CycleRig() {
    host.led[host::code::kLedJogEnabled] = true;
    host.Set(host.blockB, host::offset::kDistanceMode, int32_t{1});
    w.OpenPendant();
  }
  ~CycleRig() { window.reset(); }

  // Turns the selectors to the position of a jog mode on an axis (the first
  // report also sets where the wheel stands); the host calls it makes are
  // dropped. Axis B is named only by the spindle override's position, and
  // kept by the selector's in-between position 0.
  void Select(JogMode jogMode, int axis = 0) {
    static constexpr int kAxisSel[] = {1, 2, 3, 7, 0};
    if (axis == 4) {
      report = {
          .counter = report.counter, .speed = report.speed, .axisSel = 5, .mode = 3, .stepSel = 1};
      Cycle();
    }
    report.mode = 3;
    report.axisSel = kAxisSel[axis];
    report.stepSel = 1;
    switch (jogMode) {
      case JogMode::JogRateAdjust:
        report.axisSel = 6;
        break;
      case JogMode::FeedOverrideAdjust:
        report.axisSel = 4;
        break;
      case JogMode::SpindleOverrideAdjust:
        report.axisSel = 5;
        break;
      case JogMode::VelocityJog:
        report.stepSel = 2;
        break;
      case JogMode::RateJog:
        report.stepSel = 3;
        break;
      case JogMode::StepSizeSelect:
        report.stepSel = 4;
        break;
      case JogMode::AxisZero:
        report.stepSel = 5;
        break;
      case JogMode::ScreenSelect:
        report.stepSel = 6;
        break;
      default:  // StepJog: the selectors as set above
        break;
    }
    Cycle();
    EXPECT_EQ(w.jogMode, jogMode);
    // The override positions name no axis of their own.
    if (report.axisSel < 4 || report.axisSel == 7) {
      EXPECT_EQ(w.axisIndex, axis);
    }
    // The host takes the stop requests of the selector change.
    for (int a = 0; a < host::kAxisCount; ++a)
      host.Set<uint8_t>(host.blockA, host::JogRecordField(a, host::offset::kJogStopRequest), 0);
    host.Clear();
  }
  PendantSettings& Settings() { return Module().settings; }
  TickCounters& Ticks() { return Module().ticks; }
  void SpeedByte(int s) { report.speed = s; }
  void Increment(double inc) { host.Set(host.blockC, host::offset::kStepIncrement, inc); }
  void Angle(double deg) { host.Set(host.blockB, host::offset::kRotationAngle, deg); }
  void Reset(uint8_t on) { host.Set(host.blockA, host::offset::kResetIndicator, on); }
  // One report: the wheel moved count steps (direction 0 up, 1 down); returns
  // the host actions its cycle made.
  Calls Run(int direction, int count) {
    host.Clear();
    report.counter = (report.counter + (direction == 0 ? count : -count)) & 0xFF;
    Cycle();
    return host.calls;
  }
  void Cycle() {
    pendant.Queue(report);
    pendant.clock.Advance(kCyclePeriodMs);
    w.RunReportCycle(kCycleTimerId);
  }
  // The report the pendant last received.
  std::vector<uint8_t> Output() {
    std::vector<uint8_t> r(kOutputReportSize);
    EXPECT_TRUE(pendant.bus->LastOutput(pendant.id, r.data(), r.size()));
    return r;
  }
  // Jog record field of an axis (its offsets are checked in host_interface_test).
  template <typename T>
  T Record(int axis, std::size_t field) {
    return host.Get<T>(host.blockA, host::JogRecordField(axis, field));
  }
};

}  // namespace km4r::test
