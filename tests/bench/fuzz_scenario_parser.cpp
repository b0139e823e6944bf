// Any text either parses or names a line within the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "bench/scenario_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const km4r::bench::ParseResult r = km4r::bench::ParseScenario(text);
  if (!r.ok) {
    std::size_t lines = 1;
    for (char c : text) lines += c == '\n';
    if (r.errorLine < 1 || static_cast<std::size_t>(r.errorLine) > lines || r.error.empty() ||
        !r.commands.empty())
      std::abort();
  } else {
    for (const auto& c : r.commands)
      if (c.kind == km4r::bench::CommandKind::ShowJog && (c.number < 0 || c.number > 5))
        std::abort();
  }
  return 0;
}
