// Runs parsed scenarios in a fresh host each: fresh blocks, a fresh profile
// in a fresh temporary directory, a fresh copy of the plug-in module (so its
// module-level state starts as at load) and the virtual pendant attached.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "bench/scenario_parser.h"

namespace km4r::bench {

// Exit codes of `run`.
inline constexpr int kRunOk = 0;
inline constexpr int kRunFailed = 1;      // the module or the host failed
inline constexpr int kRunParseError = 2;  // a line could not be parsed

inline constexpr const char* kVirtualPendantPath = "/dev/hidraw-virtual0";
inline constexpr const char* kOtherDevicePath = "/dev/hidraw-virtual1";

// Runs the commands; the trace goes to out, "FILE:LINE: message" to err.
int RunScenario(const std::string& file, const std::vector<Command>& commands,
                const std::string& modulePath, std::ostream& out, std::ostream& err);

// A scenario file larger than this is refused before it is parsed.
inline constexpr std::size_t kMaxScenarioBytes = 1 << 20;

// The text of a scenario file; false with the reason (directories, devices,
// pipes and files over kMaxScenarioBytes are refused).
bool ReadScenarioText(const std::string& file, std::string* text, std::string* error);

// Reads, parses and runs one file.
int RunScenarioFile(const std::string& file, const std::string& modulePath, std::ostream& out,
                    std::ostream& err);

}  // namespace km4r::bench
