// A pendant window wired to a recording host, with the engine's usual
// preconditions: the link up, jogging enabled in the host, relative mode kept.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pendant/pendant_window.h"
#include "plugin/module_state.h"
#include "tests/support/fake_host.h"

namespace km4r::test {

using Calls = std::vector<std::string>;

struct JogBench {
  FakeHost host;  // first: it resets the module state
  PendantWindow w;

  JogBench() {
    host.led[host::code::kLedJogEnabled] = true;
    w.restoreAbsolute = 0;
    w.connected = 1;
  }
  PendantSettings& Settings() { return Module().settings; }
  TickCounters& Ticks() { return Module().ticks; }
  void SpeedByte(int s) { w.inputWord0 = (w.inputWord0 & ~0x00FF0000u) | (uint32_t(s) << 16); }
  void Increment(double inc) { host.Set(host.blockC, host::offset::kStepIncrement, inc); }
  void Angle(double deg) { host.Set(host.blockB, host::offset::kRotationAngle, deg); }
  void Reset(uint8_t on) { host.Set(host.blockA, host::offset::kResetIndicator, on); }
  // One engine call; returns the host actions it made.
  Calls Run(int direction, int count) {
    host.Clear();
    w.RunJogEngine(direction, count);
    return host.calls;
  }
  // Jog record field of an axis (its offsets are checked in host_interface_test).
  template <typename T>
  T Record(int axis, std::size_t field) {
    return host.Get<T>(host.blockA, host::JogRecordField(axis, field));
  }
};

}  // namespace km4r::test
