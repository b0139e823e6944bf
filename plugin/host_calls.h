// The host callbacks as the pendant logic calls them. A callback the host has
// not set is skipped (reads give 0 / unlit) rather than called through null,
// and so is every callback once the plug-in has been stopped from inside one.
//
// Every callback is made on the host's UI thread (each one's note says from
// where) and may be made while another host callback runs: from a cycle or
// device message that one's pumping dispatched, or an entry point it called.
// Each may pump messages: a timer message then runs a report cycle that
// starts no motion, a device message is handled at once, and any entry point
// may be called back.
#pragma once

#include "plugin/host_interface.h"
#include "plugin/module_state.h"

namespace km4r::host {

inline bool Stopped() {
  return Module().retiredWindow != nullptr;
}
// From the cycle; from a device message or entry point only to end a jog (205).
inline void DoButton(int code) {
  if (auto f = Module().callbacks.doButton; f != nullptr && !Stopped()) f(static_cast<short>(code));
}
// From the cycle only (step size, feed rate, overrides).
inline void SetDRO(int code, double value) {
  if (auto f = Module().callbacks.setDro; f != nullptr && !Stopped())
    f(static_cast<short>(code), value);
}
// From the cycle only (the jog engine and the display).
inline double GetDRO(int code) {
  auto f = Module().callbacks.getDro;
  return f != nullptr && !Stopped() ? f(static_cast<short>(code)) : 0.0;
}
// From the cycle only (the display). Only the low byte of the answer is meaningful.
inline bool GetLED(int code) {
  auto f = Module().callbacks.getLed;
  if (f == nullptr || Stopped()) return false;
  const bool raw = f(static_cast<short>(code));
  unsigned char low = 0;
  std::memcpy(&low, &raw, 1);
  return low != 0;
}
// From the cycle; from a device message or entry point only to end a jog ("ENDJOG").
inline void Code(const char* text) {
  if (auto f = Module().callbacks.code; f != nullptr && !Stopped()) f(text);
}
inline const Blocks& HostBlocks() {
  return Module().blocks;
}

}  // namespace km4r::host
