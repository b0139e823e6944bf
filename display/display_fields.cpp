#include "display/display_fields.h"

#include <cstdio>
#include <cstring>

namespace km4r::display {

namespace {

// Formats into scratch and returns the length actually stored in it.
std::size_t FormatScratch(char (&scratch)[kScratchSize], const char* fmt, double value) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int n = std::snprintf(scratch, sizeof scratch, fmt, value);
#pragma GCC diagnostic pop
  if (n < 0) {
    scratch[0] = '\0';
    return 0;
  }
  return static_cast<std::size_t>(n) < sizeof scratch ? static_cast<std::size_t>(n)
                                                      : sizeof scratch - 1;
}

}  // namespace

void PutNumber(uint8_t* dst, std::size_t width, const char* fmt, double value) {
  char scratch[kScratchSize];
  const std::size_t len = FormatScratch(scratch, fmt, value);
  const std::size_t copied = len < width ? len : width;
  std::memcpy(dst, scratch, copied);
  PutSpaces(dst + copied, width - copied);
}

void PutText(uint8_t* dst, const char* text) {
  std::memcpy(dst, text, std::strlen(text));
}

void PutSpaces(uint8_t* dst, std::size_t count) {
  std::memset(dst, ' ', count);
}

bool FirstBlinkHalf(int32_t displayCycle) {
  return displayCycle % 40 < 20;
}

void FormatPositionText(char* text, std::size_t capacity, double value, int digits) {
  static constexpr const char* kFormats[] = {"%+10.4f", "%+9.4f", "%+8.4f"};
  if (digits < 0 || digits > 2 || capacity == 0) return;
  char scratch[kScratchSize];
  std::size_t len = FormatScratch(scratch, kFormats[digits], value);
  if (len > capacity - 1) len = capacity - 1;
  std::memcpy(text, scratch, len);
  text[len] = '\0';
}

}  // namespace km4r::display
