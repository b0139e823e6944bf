// What the demo and live mode show: the pendant display drawn as a box, the
// host actions since the last frame and the machine's positions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/host/trace_format.h"

namespace km4r::bench {

// The two display lines of an output report in a box, one string a row;
// bytes outside 0x20-0x7E show as '.'.
std::vector<std::string> DisplayBox(const uint8_t (&report)[sim::kOutputReportBytes]);

// A host action line with the meaning of its code added, for people:
// "DoButton 334" becomes "DoButton 334 (mode change, axis X)". Lines
// without a known code come back as they are.
std::string NamedAction(const std::string& line);

// Host actions with runs of the same line folded ("Code \"DOJOG\"  x12").
std::vector<std::string> FoldActions(const std::vector<std::string>& actions);

// "X +0.0000  Y +0.0000 ..." for the first `axes` axes.
std::string PositionsLine(const double* positions, int axes);

// A frame: the box on the left, the actions beside it (more rows when there
// are more actions), then the positions.
std::string Frame(const std::string& title, const uint8_t (&report)[sim::kOutputReportBytes],
                  const std::vector<std::string>& actions, const std::string& positions);

}  // namespace km4r::bench
