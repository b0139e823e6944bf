#include "bench/session_view.h"

#include <algorithm>
#include <cstdio>

namespace km4r::bench {

std::vector<std::string> DisplayBox(const uint8_t (&report)[kOutputReportBytes]) {
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

std::string Frame(const std::string& title, const uint8_t (&report)[kOutputReportBytes],
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
