// The scenario language of `pendant-bench run`: one command a line, `#` to
// the end of a line is a comment, blank lines are ignored. Parsing is a pure
// function of the text so that it can be tested and fuzzed on its own; the
// whole file is parsed before anything of it runs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace km4r::bench {

enum class CommandKind {
  Profile,        // profile KEY VALUE
  Start,          // start
  Config,         // config
  Stop,           // stop
  PendantAbsent,  // pendant absent
  Unplug,         // unplug
  Plug,           // plug
  PlugOther,      // plug-other
  Report,         // report B0 .. B7
  Latency,        // latency MS
  Led,            // led CODE on|off
  Dro,            // dro CODE VALUE
  Field,          // field NAME VALUE
  Cycle,          // cycle [N]
  Update,         // update [N]
  Tick,           // tick [N]: N times one cycle, then one update
  Machine,        // machine on|off
  MachineFollow,  // machine follow-step-size on|off
  ShowDisplay,    // show display
  ShowReport,     // show report
  ShowJog,        // show jog AXIS
  ShowStatus,     // show status
  ShowDro,        // show dro CODE
  ShowProfile,    // show profile
};

// Host block fields a scenario may set, with their block, offset and type.
enum class FieldBlock { A, B, C };
enum class FieldType { Byte, Int32, Double };

struct FieldInfo {
  const char* name;  // as written in a scenario, without an index
  FieldBlock block;
  std::size_t offset;  // of element 0
  FieldType type;
  bool indexed;  // takes [0] to [5]; element i lies at offset + 4 * i
};

// Every settable field, in a fixed order.
const std::vector<FieldInfo>& SettableFields();

struct Command {
  CommandKind kind = CommandKind::Start;
  int line = 0;  // 1-based line in the file
  // profile
  std::string key;
  std::string text;
  // report
  std::array<uint8_t, 8> bytes{};
  // latency (ms), led/dro/show dro (code), cycle/update (count), show jog (axis)
  int64_t number = 0;
  // led on/off, machine on/off
  bool on = false;
  // dro value, field value (integer fields hold a whole number)
  double value = 0.0;
  int64_t intValue = 0;
  // field
  const FieldInfo* field = nullptr;
  int fieldIndex = 0;
};

struct ParseResult {
  bool ok = true;
  std::vector<Command> commands;
  // When !ok: the line at fault (1-based) and what is wrong with it.
  int errorLine = 0;
  std::string error;
};

// Upper bound of `cycle N` and `update N`, so that a typo cannot make a run
// last for hours.
inline constexpr int64_t kMaxRepeat = 1000000;

ParseResult ParseScenario(std::string_view text);

}  // namespace km4r::bench
