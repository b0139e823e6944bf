// Fixed-width character fields of the pendant display. The text bytes carry no
// terminator, so everything here writes exactly the columns it is given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace km4r::display {

// Output report layout.
inline constexpr std::size_t kReportIdByte = 0;
inline constexpr std::size_t kResetByte = 1;
inline constexpr std::size_t kLine1 = 2;
inline constexpr std::size_t kLine2 = 10;
inline constexpr std::size_t kLineWidth = 8;
inline constexpr std::size_t kSequenceByte = 18;

// Large enough for any double under any conversion used here: "%+10.4f" of
// the largest double is a little over 310 characters.
inline constexpr std::size_t kScratchSize = 512;

// Formats value with the printf conversion fmt and copies the first width
// characters to dst. A result shorter than the field (only "inf" or "nan" can
// be) is padded with spaces instead of leaking the terminator.
void PutNumber(uint8_t* dst, std::size_t width, const char* fmt, double value);

// Copies the characters of text, without its terminator.
void PutText(uint8_t* dst, const char* text);

void PutSpaces(uint8_t* dst, std::size_t count);

// First half of the one-second blink period.
bool FirstBlinkHalf(int32_t displayCycle);

// Rewrites text (a C string of capacity bytes) from value by the digits
// setting 0, 1 or 2. Any other setting leaves text as it was. Whatever does not
// fit is dropped; the display only ever shows the first eight characters.
void FormatPositionText(char* text, std::size_t capacity, double value, int digits);

}  // namespace km4r::display
