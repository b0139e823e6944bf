#include "bench/host/trace_format.h"

#include <cstdio>
#include <cstring>

#include "plugin/host_interface.h"

namespace km4r::sim {

std::string FormatNumber(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

std::string Quote(const uint8_t* bytes, std::size_t len) {
  std::string out = "\"";
  for (std::size_t i = 0; i < len; ++i) {
    const uint8_t b = bytes[i];
    if (b >= 0x20 && b <= 0x7E) {
      out += static_cast<char>(b);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", b);
      out += esc;
    }
  }
  out += '"';
  return out;
}

std::string Quote(const char* text) {
  if (text == nullptr) text = "";
  return Quote(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
}

std::string DoButtonLine(short code) {
  return "DoButton " + std::to_string(code);
}

std::string SetDroLine(short code, double value) {
  return "SetDRO " + std::to_string(code) + " " + FormatNumber(value);
}

std::string CodeLine(const char* text) {
  return "Code " + Quote(text);
}

std::string NameLine(const char* name) {
  return "name " + Quote(name);
}

std::string DisplayLine(const uint8_t (&report)[kOutputReportBytes]) {
  return "display " + Quote(report + 2, 8) + " " + Quote(report + 10, 8) +
         " reset=" + std::to_string(report[1]) + " seq=" + std::to_string(report[18]);
}

std::string ReportLine(const uint8_t (&report)[kOutputReportBytes], std::size_t writes) {
  std::string out = "report";
  for (uint8_t b : report) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", b);
    out += hex;
  }
  return out + " writes=" + std::to_string(writes);
}

std::string JogLine(const unsigned char* blockA, int axis) {
  namespace off = host::offset;
  auto at = [axis](std::size_t field) { return host::JogRecordField(axis, field); };
  const int32_t speed = host::Load<int32_t>(blockA, at(off::kJogSpeed));
  const int32_t limit = host::Load<int32_t>(blockA, at(off::kJogVelocityLimit));
  const int32_t param = host::Load<int32_t>(blockA, at(off::kJogParam));
  const uint8_t stop = host::Load<uint8_t>(blockA, at(off::kJogStopRequest));
  const uint8_t start = host::Load<uint8_t>(blockA, at(off::kJogStartRequest));
  const int32_t dir = host::Load<int32_t>(blockA, at(off::kJogDirection));
  return "jog " + std::to_string(axis) + " speed=" + std::to_string(speed) +
         " limit=" + std::to_string(limit) + " param=" + std::to_string(param) +
         " stop=" + std::to_string(stop) + " start=" + std::to_string(start) +
         " dir=" + std::to_string(dir);
}

std::string StatusLine(const char* text) {
  return "status " + Quote(text);
}

std::string DroLine(short code, double value) {
  return "dro " + std::to_string(code) + " " + FormatNumber(value);
}

// Profile values are shown bare, so blanks are escaped as well.
static std::string Bare(const std::string& text) {
  std::string out;
  for (unsigned char b : text) {
    if (b > 0x20 && b <= 0x7E) {
      out += static_cast<char>(b);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", b);
      out += esc;
    }
  }
  return out;
}

std::string ProfileLine(const std::vector<std::pair<std::string, std::string>>& keys) {
  std::string out = "profile";
  for (const auto& [k, v] : keys) out += " " + k + "=" + Bare(v);
  return out;
}

}  // namespace km4r::sim
