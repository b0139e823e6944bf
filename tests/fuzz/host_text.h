// What the plug-in may say to the host: the command texts it can send through
// Code, the button and DRO codes it can use, and the characters the pendant
// display may show. Written by hand (no regex) so that a check costs nothing
// measurable inside a fuzz or soak loop and allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace km4r::test {

struct MoveText {
  bool isMove = false;
  bool rotated = false;  // "G91G1 X.. Y.. "
  char axis = 0;         // letter of a single-axis move
  double distance = 0.0;
  double x = 0.0, y = 0.0;
};

namespace detail {

inline bool Eat(const char*& p, const char* literal) {
  const std::size_t n = std::strlen(literal);
  if (std::strncmp(p, literal, n) != 0) return false;
  p += n;
  return true;
}

// "%d": optional '-', then digits without a leading zero (except "0").
inline bool Int(const char*& p) {
  if (*p == '-') ++p;
  if (*p < '0' || *p > '9') return false;
  if (*p == '0' && p[1] >= '0' && p[1] <= '9') return false;
  while (*p >= '0' && *p <= '9') ++p;
  return true;
}

// "%.4f": optional '-', digits, '.', exactly four digits; or what printf
// makes of infinities and NaNs.
inline bool Fixed4(const char*& p, double* value) {
  const char* start = p;
  if (*p == '-') ++p;
  if (Eat(p, "inf") || Eat(p, "nan")) {
    if (value != nullptr) *value = std::strtod(start, nullptr);
    return true;
  }
  if (*p < '0' || *p > '9') return false;
  if (*p == '0' && p[1] >= '0' && p[1] <= '9') return false;
  while (*p >= '0' && *p <= '9') ++p;
  if (*p != '.') return false;
  ++p;
  for (int i = 0; i < 4; ++i, ++p)
    if (*p < '0' || *p > '9') return false;
  if (value != nullptr) *value = std::strtod(start, nullptr);
  return true;
}

inline bool ParseAxisLetter(const char*& p, char* letter) {
  if (*p == '\0' || std::strchr("XYZABC", *p) == nullptr) return false;
  *letter = *p++;
  return true;
}

}  // namespace detail

// True when text is one of the system's command texts; moves are decoded into
// *move.
inline bool ParseHostCode(const char* text, MoveText* move) {
  using namespace detail;
  *move = MoveText{};
  if (std::strcmp(text, "G90") == 0 || std::strcmp(text, "DOJOG") == 0 ||
      std::strcmp(text, "ENDJOG") == 0)
    return true;
  const char* p = text;
  if (!Eat(p, "G91G1 ")) return false;
  move->isMove = true;
  const char* afterPrefix = p;
  // "X%.4f Y%.4f "
  if (Eat(p, "X") && Fixed4(p, &move->x) && Eat(p, " Y") && Fixed4(p, &move->y) && Eat(p, " ") &&
      *p == '\0') {
    move->rotated = true;
    return true;
  }
  // "F%d %s %.4f" or "F%.4f %s %.4f"
  p = afterPrefix;
  if (Eat(p, "F")) {
    const char* feed = p;
    if (!Int(p) || *p != ' ') {
      p = feed;
      if (!Fixed4(p, nullptr)) return false;
    }
    if (!Eat(p, " ")) return false;
  }
  // "%s %.4f"
  return ParseAxisLetter(p, &move->axis) && Eat(p, " ") && Fixed4(p, &move->distance) && *p == '\0';
}

// Buttons the plug-in presses: screens, back screen, alternate jog, the jog
// mode buttons of the six axes, the four zero buttons and the E-stop.
inline bool KnownButton(int code) {
  switch (code) {
    case 1:
    case 2:
    case 3:
    case 5:
    case 6:
    case 7:
    case 204:
    case 205:
    case 323:
    case 1021:
      return true;
    default:
      return (code >= 334 && code <= 339) || (code >= 1008 && code <= 1011);
  }
}

// DROs the plug-in writes: jog rate, spindle override, feed, feed override and
// step size.
inline bool KnownDroWrite(int code) {
  return code == 3 || code == 74 || code == 818 || code == 821 || code == 828;
}

inline bool Printable(uint8_t c) {
  return c >= 0x20 && c <= 0x7E;
}

}  // namespace km4r::test
