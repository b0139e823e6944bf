#include "bench/session_view.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace km4r::bench {

std::vector<std::string> DisplayBox(const uint8_t (&report)[sim::kOutputReportBytes]) {
  auto line = [&report](std::size_t from) {
    std::string s = "|";
    for (std::size_t i = from; i < from + 8; ++i) {
      const uint8_t b = report[i];
      s += (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.';
    }
    return s + "|";
  };
  const std::string edge = report[1] != 0 ? "+-RESET--+" : "+--------+";
  return {edge, line(2), line(10), "+--------+"};
}

namespace {

const char* ButtonName(int code) {
  switch (code) {
    case 1:
      return "screen: Program Run";
    case 2:
      return "screen: MDI";
    case 3:
      return "screen: Toolpath";
    case 5:
      return "screen: Diagnostics";
    case 6:
      return "screen: Settings";
    case 7:
      return "screen: Offsets";
    case 204:
      return "jog button press";
    case 205:
      return "jog button release";
    case 323:
      return "screen back";
    case 334:
      return "mode change, axis X";
    case 335:
      return "mode change, axis Y";
    case 336:
      return "mode change, axis Z";
    case 337:
      return "mode change, axis A";
    case 338:
      return "mode change, axis B";
    case 1008:
      return "zero X";
    case 1009:
      return "zero Y";
    case 1010:
      return "zero Z";
    case 1011:
      return "zero A";
    case 1021:
      return "E-stop";
    default:
      return nullptr;
  }
}

const char* DroName(int code) {
  switch (code) {
    case 3:
      return "jog rate %";
    case 74:
      return "spindle override %";
    case 818:
      return "feed rate";
    case 821:
      return "feed override %";
    case 828:
      return "step size";
    default:
      return nullptr;
  }
}

}  // namespace

std::string NamedAction(const std::string& line) {
  const char* name = nullptr;
  if (line.rfind("DoButton ", 0) == 0) {
    name = ButtonName(std::atoi(line.c_str() + 9));
  } else if (line.rfind("SetDRO ", 0) == 0) {
    name = DroName(std::atoi(line.c_str() + 7));
  }
  return name == nullptr ? line : line + " (" + name + ")";
}

std::vector<std::string> FoldActions(const std::vector<std::string>& actions) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < actions.size()) {
    std::size_t j = i + 1;
    while (j < actions.size() && actions[j] == actions[i]) ++j;
    out.push_back(j - i > 1 ? actions[i] + "  x" + std::to_string(j - i) : actions[i]);
    i = j;
  }
  return out;
}

std::string PositionsLine(const double* positions, int axes) {
  static const char kLetters[] = "XYZABC";
  std::string out;
  for (int i = 0; i < axes && i < 6; ++i) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%c %+.4f", i == 0 ? "" : "  ", kLetters[i], positions[i]);
    out += buf;
  }
  return out;
}

std::string Frame(const std::string& title, const uint8_t (&report)[sim::kOutputReportBytes],
                  const std::vector<std::string>& actions, const std::string& positions) {
  const std::vector<std::string> box = DisplayBox(report);
  const std::vector<std::string> folded = FoldActions(actions);
  std::string out = "== " + title + "\n";
  const std::size_t rows = std::max(box.size(), folded.size() + 1);
  for (std::size_t r = 0; r < rows; ++r) {
    std::string row = "  " + (r < box.size() ? box[r] : std::string(10, ' '));
    if (r == 0) {
      row += folded.empty() ? "   (no host action)" : "   host actions:";
    } else if (r - 1 < folded.size()) {
      row += "     " + folded[r - 1];
    }
    out += row + "\n";
  }
  out += "  machine: " + positions + "\n";
  return out;
}

}  // namespace km4r::bench
