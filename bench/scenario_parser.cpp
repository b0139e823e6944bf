#include "bench/scenario_parser.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "plugin/host_interface.h"

namespace km4r::bench {

const std::vector<FieldInfo>& SettableFields() {
  namespace off = host::offset;
  static const std::vector<FieldInfo> fields = {
      {"motionQueueIn", FieldBlock::A, off::kMotionQueueIn, FieldType::Int32, false},
      {"motionQueueOut", FieldBlock::A, off::kMotionQueueOut, FieldType::Int32, false},
      {"resetIndicator", FieldBlock::A, off::kResetIndicator, FieldType::Byte, false},
      {"distanceMode", FieldBlock::B, off::kDistanceMode, FieldType::Int32, false},
      {"rotationAngle", FieldBlock::B, off::kRotationAngle, FieldType::Double, false},
      {"bufferQueueIn", FieldBlock::C, off::kBufferQueueIn, FieldType::Int32, false},
      {"bufferQueueOut", FieldBlock::C, off::kBufferQueueOut, FieldType::Int32, false},
      {"axisVelocityLimit", FieldBlock::C, off::kAxisVelocityLimit, FieldType::Int32, true},
      {"axisJogParam", FieldBlock::C, off::kAxisJogParam, FieldType::Int32, true},
      {"stepIncrement", FieldBlock::C, off::kStepIncrement, FieldType::Double, false},
      {"busyIndicator", FieldBlock::C, off::kBusyIndicator, FieldType::Int32, false},
  };
  return fields;
}

namespace {

std::vector<std::string_view> Tokens(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= line.size()) break;
    std::size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
    out.push_back(line.substr(i, j - i));
    i = j;
  }
  return out;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A token as a message shows it: in quotes, a long one cut ("..."), so that a
// 100 000-digit count does not fill the screen.
std::string Quote(std::string_view t) {
  constexpr std::size_t kShown = 24;
  return "'" + std::string(t.substr(0, kShown)) + (t.size() > kShown ? "...'" : "'");
}

// Decimal integer: optional minus, then digits only.
bool ParseInteger(std::string_view t, int64_t lo, int64_t hi, int64_t* out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && t[i] == '-') {
    negative = true;
    ++i;
  }
  if (i == t.size()) return false;
  int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (!IsDigit(t[i])) return false;
    if (v > (std::numeric_limits<int64_t>::max() - 9) / 10) return false;
    v = v * 10 + (t[i] - '0');
  }
  if (negative) v = -v;
  if (v < lo || v > hi) return false;
  *out = v;
  return true;
}

// A finite decimal number ("12", "-0.5", "1e3"); no hex, inf or nan.
bool ParseDouble(std::string_view t, double* out) {
  if (t.empty() || t.size() > 64) return false;
  bool digit = false;
  for (char c : t) {
    if (IsDigit(c)) {
      digit = true;
    } else if (c != '+' && c != '-' && c != '.' && c != 'e' && c != 'E') {
      return false;
    }
  }
  if (!digit) return false;
  const std::string s(t);
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || errno == ERANGE || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

// An axis by its letter, as users name it, or by its number.
bool ParseAxis(std::string_view t, int64_t* out) {
  for (int axis = 0; axis < host::kAxisCount; ++axis) {
    const char letter = host::AxisLetter(axis)[0];
    if (t.size() == 1 && (t[0] == letter || t[0] == letter - 'A' + 'a')) {
      *out = axis;
      return true;
    }
  }
  return ParseInteger(t, 0, host::kAxisCount - 1, out);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexByte(std::string_view t, uint8_t* out) {
  if (t.size() != 2) return false;
  const int hi = HexDigit(t[0]);
  const int lo = HexDigit(t[1]);
  if (hi < 0 || lo < 0) return false;
  *out = static_cast<uint8_t>(hi * 16 + lo);
  return true;
}

bool ParseOnOff(std::string_view t, bool* out) {
  if (t == "on") {
    *out = true;
    return true;
  }
  if (t == "off") {
    *out = false;
    return true;
  }
  return false;
}

// XML element names the profile can hold: a letter or '_' first, then
// letters, digits, '_', '-' or '.'.
bool IsElementName(std::string_view t) {
  if (t.empty()) return false;
  auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (!alpha(t[0])) return false;
  for (char c : t) {
    if (!alpha(c) && !IsDigit(c) && c != '-' && c != '.') return false;
  }
  return t.size() < 3 || !((t[0] == 'x' || t[0] == 'X') && (t[1] == 'm' || t[1] == 'M') &&
                           (t[2] == 'l' || t[2] == 'L'));
}

// Codes reach the plug-in as 16-bit values.
constexpr int64_t kMaxCode = 32767;

struct Parser {
  ParseResult result;
  // Pendant bookkeeping, so that a scenario that cannot run is refused before
  // anything of it runs.
  bool started = false;
  bool pendantTouched = false;  // unplug, plug, report or latency seen
  bool pendantAdded = true;
  bool pendantAttached = true;

  bool Fail(int line, std::string message) {
    result.ok = false;
    result.errorLine = line;
    result.error = std::move(message);
    result.commands.clear();
    return false;
  }

  bool Arity(int line, const std::vector<std::string_view>& t, std::size_t want,
             const char* usage) {
    if (t.size() == want) return true;
    return Fail(line, std::string("wrong number of arguments, expected: ") + usage);
  }

  bool RequireDevice(int line) {
    if (!pendantAdded) return Fail(line, "no pendant: the scenario has 'pendant absent'");
    pendantTouched = true;
    return true;
  }

  bool Repeat(int line, const std::vector<std::string_view>& t, const char* usage, Command* c) {
    if (t.size() > 2) return Arity(line, t, 2, usage);
    c->number = 1;
    if (t.size() == 2 && !ParseInteger(t[1], 0, kMaxRepeat, &c->number))
      return Fail(line, "bad count " + Quote(t[1]) + " (0 to " + std::to_string(kMaxRepeat) + ")");
    return true;
  }

  bool ParseField(int line, const std::vector<std::string_view>& t, Command* c) {
    if (!Arity(line, t, 3, "field NAME VALUE")) return false;
    std::string_view name = t[1];
    int index = -1;
    const std::size_t bracket = name.find('[');
    if (bracket != std::string_view::npos) {
      if (name.size() != bracket + 3 || name.back() != ']' || !IsDigit(name[bracket + 1]))
        return Fail(line, "bad field index in " + Quote(name));
      index = name[bracket + 1] - '0';
      name = name.substr(0, bracket);
    }
    const FieldInfo* info = nullptr;
    for (const FieldInfo& f : SettableFields()) {
      if (name == f.name) info = &f;
    }
    if (info == nullptr) return Fail(line, "unknown field " + Quote(t[1]));
    if (info->indexed) {
      if (index < 0) return Fail(line, "field " + Quote(name) + " needs an index [0] to [5]");
      if (index >= host::kAxisCount)
        return Fail(line, "field index out of range in " + Quote(t[1]) + " (0 to 5)");
    } else if (index >= 0) {
      return Fail(line, "field " + Quote(name) + " takes no index");
    }
    c->field = info;
    c->fieldIndex = index < 0 ? 0 : index;
    switch (info->type) {
      case FieldType::Byte:
        if (!ParseInteger(t[2], 0, 255, &c->intValue))
          return Fail(line, "bad byte value " + Quote(t[2]) + " (0 to 255)");
        c->value = static_cast<double>(c->intValue);
        break;
      case FieldType::Int32:
        if (!ParseInteger(t[2], std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max(), &c->intValue))
          return Fail(line, "bad integer value " + Quote(t[2]));
        c->value = static_cast<double>(c->intValue);
        break;
      case FieldType::Double:
        if (!ParseDouble(t[2], &c->value)) return Fail(line, "bad number " + Quote(t[2]));
        break;
    }
    return true;
  }

  bool ParseShow(int line, const std::vector<std::string_view>& t, Command* c) {
    if (t.size() < 2)
      return Fail(line,
                  "wrong number of arguments, expected: show display|report|jog AXIS|status|"
                  "dro CODE|profile");
    const std::string_view what = t[1];
    if (what == "display") {
      c->kind = CommandKind::ShowDisplay;
      return Arity(line, t, 2, "show display");
    }
    if (what == "report") {
      c->kind = CommandKind::ShowReport;
      return Arity(line, t, 2, "show report");
    }
    if (what == "status") {
      c->kind = CommandKind::ShowStatus;
      return Arity(line, t, 2, "show status");
    }
    if (what == "profile") {
      c->kind = CommandKind::ShowProfile;
      return Arity(line, t, 2, "show profile");
    }
    if (what == "jog") {
      c->kind = CommandKind::ShowJog;
      if (!Arity(line, t, 3, "show jog AXIS")) return false;
      if (!ParseAxis(t[2], &c->number))
        return Fail(line, "bad axis " + Quote(t[2]) + " (X, Y, Z, A, B, C or 0 to 5)");
      return true;
    }
    if (what == "dro") {
      c->kind = CommandKind::ShowDro;
      if (!Arity(line, t, 3, "show dro CODE")) return false;
      if (!ParseInteger(t[2], 0, kMaxCode, &c->number))
        return Fail(line, "bad DRO code " + Quote(t[2]));
      return true;
    }
    return Fail(line, "unknown show " + Quote(what));
  }

  bool ParseLine(int line, const std::vector<std::string_view>& t) {
    Command c;
    c.line = line;
    const std::string_view word = t[0];
    if (word == "profile") {
      c.kind = CommandKind::Profile;
      if (!Arity(line, t, 3, "profile KEY VALUE")) return false;
      if (!IsElementName(t[1])) return Fail(line, "bad profile key " + Quote(t[1]));
      c.key = std::string(t[1]);
      // "" stands for an empty value, which a token cannot otherwise be.
      c.text = t[2] == "\"\"" ? std::string() : std::string(t[2]);
    } else if (word == "start") {
      c.kind = CommandKind::Start;
      if (!Arity(line, t, 1, "start")) return false;
      started = true;
    } else if (word == "config") {
      c.kind = CommandKind::Config;
      if (!Arity(line, t, 1, "config")) return false;
    } else if (word == "stop") {
      c.kind = CommandKind::Stop;
      if (!Arity(line, t, 1, "stop")) return false;
    } else if (word == "pendant") {
      c.kind = CommandKind::PendantAbsent;
      if (!Arity(line, t, 2, "pendant absent")) return false;
      if (t[1] != "absent") return Fail(line, "unknown pendant state " + Quote(t[1]));
      if (started) return Fail(line, "'pendant absent' must come before start");
      if (pendantTouched)
        return Fail(line, "'pendant absent' must come before any pendant command");
      pendantAdded = false;
      pendantAttached = false;
    } else if (word == "unplug") {
      c.kind = CommandKind::Unplug;
      if (!Arity(line, t, 1, "unplug")) return false;
      if (!pendantAttached) return Fail(line, "the pendant is not attached");
      pendantTouched = true;
      pendantAttached = false;
    } else if (word == "plug") {
      c.kind = CommandKind::Plug;
      if (!Arity(line, t, 1, "plug")) return false;
      if (pendantAttached) return Fail(line, "the pendant is already attached");
      pendantTouched = true;
      pendantAdded = true;
      pendantAttached = true;
    } else if (word == "plug-other") {
      c.kind = CommandKind::PlugOther;
      if (!Arity(line, t, 1, "plug-other")) return false;
    } else if (word == "report") {
      c.kind = CommandKind::Report;
      if (!Arity(line, t, 9, "report B0 B1 B2 B3 B4 B5 B6 B7")) return false;
      for (std::size_t i = 0; i < 8; ++i) {
        if (!ParseHexByte(t[i + 1], &c.bytes[i]))
          return Fail(line, "bad hex byte " + Quote(t[i + 1]) + " (two hex digits)");
      }
      if (!RequireDevice(line)) return false;
    } else if (word == "latency") {
      c.kind = CommandKind::Latency;
      if (!Arity(line, t, 2, "latency MS")) return false;
      if (!ParseInteger(t[1], 0, 60000, &c.number))
        return Fail(line, "bad latency " + Quote(t[1]) + " (0 to 60000 ms)");
      if (!RequireDevice(line)) return false;
    } else if (word == "led") {
      c.kind = CommandKind::Led;
      if (!Arity(line, t, 3, "led CODE on|off")) return false;
      if (!ParseInteger(t[1], 0, kMaxCode, &c.number))
        return Fail(line, "bad LED code " + Quote(t[1]));
      if (!ParseOnOff(t[2], &c.on)) return Fail(line, "expected on or off, got " + Quote(t[2]));
    } else if (word == "dro") {
      c.kind = CommandKind::Dro;
      if (!Arity(line, t, 3, "dro CODE VALUE")) return false;
      if (!ParseInteger(t[1], 0, kMaxCode, &c.number))
        return Fail(line, "bad DRO code " + Quote(t[1]));
      if (!ParseDouble(t[2], &c.value)) return Fail(line, "bad number " + Quote(t[2]));
    } else if (word == "field") {
      c.kind = CommandKind::Field;
      if (!ParseField(line, t, &c)) return false;
    } else if (word == "cycle") {
      c.kind = CommandKind::Cycle;
      if (!Repeat(line, t, "cycle [N]", &c)) return false;
    } else if (word == "update") {
      c.kind = CommandKind::Update;
      if (!Repeat(line, t, "update [N]", &c)) return false;
    } else if (word == "tick") {
      c.kind = CommandKind::Tick;
      if (!Repeat(line, t, "tick [N]", &c)) return false;
    } else if (word == "machine" && t.size() == 3 && t[1] == "follow-step-size") {
      c.kind = CommandKind::MachineFollow;
      if (!ParseOnOff(t[2], &c.on)) return Fail(line, "expected on or off, got " + Quote(t[2]));
    } else if (word == "machine") {
      c.kind = CommandKind::Machine;
      if (!Arity(line, t, 2, "machine on|off")) return false;
      if (!ParseOnOff(t[1], &c.on)) return Fail(line, "expected on or off, got " + Quote(t[1]));
    } else if (word == "show") {
      if (!ParseShow(line, t, &c)) return false;
    } else {
      return Fail(line, "unknown command " + Quote(word));
    }
    result.commands.push_back(std::move(c));
    return true;
  }
};

}  // namespace

ParseResult ParseScenario(std::string_view text) {
  Parser p;
  int line = 0;
  // Editors on Windows start UTF-8 files with a byte-order mark.
  std::size_t pos = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view content = text.substr(pos, end - pos);
    ++line;
    const std::size_t hash = content.find('#');
    if (hash != std::string_view::npos) content = content.substr(0, hash);
    if (content.find('\0') != std::string_view::npos) {
      p.Fail(line, "NUL character in line");
      return p.result;
    }
    const std::vector<std::string_view> tokens = Tokens(content);
    if (!tokens.empty() && !p.ParseLine(line, tokens)) return p.result;
    if (end == text.size()) break;
    pos = end + 1;
  }
  return p.result;
}

}  // namespace km4r::bench
