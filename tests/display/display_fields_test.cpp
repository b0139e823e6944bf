#include "display/display_fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

namespace km4r::display {
namespace {

// Writes into the middle of a guarded buffer and returns all of it, so a write
// outside the field shows up as a changed '#'.
std::string Field(std::size_t width, const char* fmt, double value) {
  uint8_t buf[16];
  std::memset(buf, '#', sizeof buf);
  PutNumber(buf + 4, width, fmt, value);
  return std::string(reinterpret_cast<const char*>(buf), sizeof buf);
}

TEST(DisplayFields, NumbersAreCutOrPaddedToTheField) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    std::size_t width;
    const char* fmt;
    double value;
    const char* field;
  } kCases[] = {
      {6, "%6.4f", 0.001, "0.0010"},
      {6, "%6.4f", 123.456789, "123.45"},  // cut, not rounded again
      {5, "%5.1f", 99.95, "100.0"},
      {5, "%5.0f", 2.5e6, "25000"},
      {3, "%3.0f", -7, " -7"},
      {1, "%1.0f", 9.6, "1"},
      {8, "%8.2f", 1e308, "10000000"},
      {6, "%.4f", inf, "inf   "},
      {6, "%.4f", std::numeric_limits<double>::quiet_NaN(), "nan   "},
      {0, "%6.4f", 1.0, ""},
  };
  for (const auto& c : kCases) {
    const std::string expected = "####" + std::string(c.field) + std::string(12 - c.width, '#');
    EXPECT_EQ(Field(c.width, c.fmt, c.value), expected) << c.fmt << " " << c.value;
  }
}

TEST(DisplayFields, BlinkHalves) {
  const struct {
    int32_t cycle;
    bool first;
  } kCases[] = {{0, true},  {19, true},   {20, false}, {39, false},  {40, true},  {80, true},
                {81, true}, {100, false}, {139, true}, {140, false}, {159, false}};
  for (const auto& c : kCases) EXPECT_EQ(FirstBlinkHalf(c.cycle), c.first) << c.cycle;
}

TEST(DisplayFields, PositionTextKeepsWhatFits) {
  char text[12];
  std::memset(text, '#', sizeof text);
  FormatPositionText(text, 9, 1e9, 0);
  EXPECT_EQ(std::string(text, sizeof text), std::string("+1000000\0###", 12));
}

}  // namespace
}  // namespace km4r::display
