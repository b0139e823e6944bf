// The input report as two little-endian words, and the fields the link reads
// from them. Built byte by byte so the result does not depend on the
// machine's byte order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace km4r {

inline uint32_t ReportWord(const uint8_t* report, std::size_t at) {
  return static_cast<uint32_t>(report[at]) | static_cast<uint32_t>(report[at + 1]) << 8 |
         static_cast<uint32_t>(report[at + 2]) << 16 | static_cast<uint32_t>(report[at + 3]) << 24;
}

inline void PutReportWord(uint8_t* report, std::size_t at, uint32_t word) {
  for (std::size_t i = 0; i < 4; ++i) report[at + i] = static_cast<uint8_t>(word >> (8 * i));
}

inline constexpr uint32_t kWheelSpeedMask = 0x00FF0000u;

inline int WheelCountByte(uint32_t word0) {
  return static_cast<int>((word0 >> 8) & 0xFF);
}
inline int WheelSpeedByte(uint32_t word0) {
  return static_cast<int>((word0 >> 16) & 0xFF);
}
inline int AxisSelectorBits(uint32_t word0) {
  return static_cast<int>((word0 >> 24) & 0x0F);
}
inline int EnableBit(uint32_t word0) {
  return static_cast<int>((word0 >> 28) & 1);
}
inline int EstopBit(uint32_t word0) {
  return static_cast<int>((word0 >> 29) & 1);
}
inline int ModeField(uint32_t word0) {
  return static_cast<int>((word0 >> 30) & 3);
}
inline int StepSelectorBits(uint32_t word1) {
  return static_cast<int>(word1 & 0x7F);
}

// Counts and direction of the handwheel between two counter readings, taken
// the short way across the 8-bit wrap. Direction 0: counter rising, 1:
// falling. A half turn (+-128) is ambiguous and counts as no motion; zero
// motion leaves the direction as it was.
struct WheelMotion {
  int steps;
  int direction;
};

inline WheelMotion WheelDifference(int now, int last, int prevDirection) {
  const int d = now - last;
  if (d >= 1 && d <= 127) return {d, 0};
  if (d >= -255 && d <= -129) return {256 + d, 0};
  if (d >= -127 && d <= -1) return {-d, 1};
  if (d >= 129 && d <= 255) return {256 - d, 1};
  return {0, prevDirection};
}

}  // namespace km4r
