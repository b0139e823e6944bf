// Real time in milliseconds from the performance counter, for the Windows
// test programs that wait or measure in real time.
#pragma once

#include <windows.h>

namespace km4r::sim {

inline double NowMs() {
  static const double ticksPerMs = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / ticksPerMs;
}

}  // namespace km4r::sim
