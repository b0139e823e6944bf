// The host callbacks as the pendant logic calls them. A callback the host has
// not set is skipped (reads give 0 / unlit) rather than called through null,
// and so is every callback once the plug-in has been stopped from inside one.
#pragma once

#include "plugin/host_interface.h"
#include "plugin/module_state.h"

namespace km4r::host {

inline bool Stopped() {
  return Module().retiredWindow != nullptr;
}
inline void DoButton(int code) {
  if (auto f = Module().callbacks.doButton; f != nullptr && !Stopped()) f(static_cast<short>(code));
}
inline void SetDRO(int code, double value) {
  if (auto f = Module().callbacks.setDro; f != nullptr && !Stopped())
    f(static_cast<short>(code), value);
}
inline double GetDRO(int code) {
  auto f = Module().callbacks.getDro;
  return f != nullptr && !Stopped() ? f(static_cast<short>(code)) : 0.0;
}
// Only the low byte of the host's answer is meaningful.
inline bool GetLED(int code) {
  auto f = Module().callbacks.getLed;
  if (f == nullptr || Stopped()) return false;
  const bool raw = f(static_cast<short>(code));
  unsigned char low = 0;
  std::memcpy(&low, &raw, 1);
  return low != 0;
}
inline void Code(const char* text) {
  if (auto f = Module().callbacks.code; f != nullptr && !Stopped()) f(text);
}
inline const Blocks& HostBlocks() {
  return Module().blocks;
}

}  // namespace km4r::host
