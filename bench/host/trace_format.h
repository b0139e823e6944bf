// The lines of a scenario trace. Integers print in decimal, doubles with
// %.10g, texts in double quotes with every byte outside 0x20-0x7E as \xNN.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace km4r::sim {

inline constexpr std::size_t kOutputReportBytes = 21;

std::string FormatNumber(double v);
std::string Quote(const uint8_t* bytes, std::size_t len);
std::string Quote(const char* text);

std::string DoButtonLine(short code);
std::string SetDroLine(short code, double value);
std::string CodeLine(const char* text);
std::string NameLine(const char* name);

// From the last output report: line 1 is bytes 2-9, line 2 bytes 10-17,
// reset= byte 1, seq= byte 18.
std::string DisplayLine(const uint8_t (&report)[kOutputReportBytes]);
std::string ReportLine(const uint8_t (&report)[kOutputReportBytes], std::size_t writes);
// The continuous-jog record of one axis, from the bytes of host block A.
std::string JogLine(const unsigned char* blockA, int axis);
std::string StatusLine(const char* text);
std::string DroLine(short code, double value);
std::string ProfileLine(const std::vector<std::pair<std::string, std::string>>& keys);

}  // namespace km4r::sim
