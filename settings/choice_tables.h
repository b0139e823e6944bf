// The choice tables of the list settings. Each entry is a leading number, a
// comma and the text a list shows; a setting holds the 0-based index of its
// entry. The dialog shows the text, the jog engine uses the number.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace km4r {

inline constexpr std::array<std::string_view, 5> kStepSizeTable = {"1,NONE", "2,0.0001", "3,0.001",
                                                                   "4,0.01", "5,0.1"};

inline constexpr std::array<std::string_view, 7> kScreenTable = {
    "0    , NONE",
    "1    , Screen 1 (Program Run screen) ",
    "2    , Screen 2 (MDI screen)         ",
    "3    , screen 4 (Toolpath screen)    ",
    "4    , screen 5 (Offsets screen) ",
    "5    , screen 6 (Setting screen) ",
    "6    , screen 7 (Diagnostics screen) "};

// VelocityInAuto: shown 1 to 10, the leading number is the velocity divisor.
inline constexpr std::array<std::string_view, 10> kVelocityTable = {
    "3,1", "4,2", "5,3", "6,4", "7,5", "9,6", "11,7", "15,8", "20,9", "25,10"};

// AutoChangeSens: label and number both equal the index.
inline constexpr std::array<std::string_view, 10> kSensitivityTable = {
    "0,0", "1,1", "2,2", "3,3", "4,4", "5,5", "6,6", "7,7", "8,8", "9,9"};

// Decidigit: index 0, 1, 2 shows 2, 3, 4 decimal digits.
inline constexpr std::array<std::string_view, 3> kDigitsTable = {"2,2", "3,3", "4,4"};

// The text after the first comma; an entry without a comma shows whole.
constexpr std::string_view ShownText(std::string_view entry) {
  std::size_t comma = entry.find(',');
  return comma == std::string_view::npos ? entry : entry.substr(comma + 1);
}

// The decimal number the entry starts with (digits up to the first
// non-digit); 0 when it starts with none.
constexpr int32_t LeadingNumber(std::string_view entry) {
  int32_t value = 0;
  for (char c : entry) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
  }
  return value;
}

// Host button code of each screen index (the codes do not follow the order).
inline constexpr std::array<int16_t, 7> kScreenButtonCodes = {0, 1, 2, 3, 7, 6, 5};

// Continuous-jog divisor of a VelocityInAuto index, and AutoChangeSens as the
// count per report it stands for (0: step jogging only). An index outside the
// table counts as the nearest end.
int32_t VelocityDivisor(int index);
int32_t AutoChangeThreshold(int index);

}  // namespace km4r
