#include "settings/choice_tables.h"

namespace km4r {

namespace {

// A hand-edited profile can never reach past a table.
template <typename Table>
std::string_view ClampedEntry(const Table& table, int index) {
  const int last = static_cast<int>(table.size()) - 1;
  return table[static_cast<std::size_t>(index < 0 ? 0 : (index > last ? last : index))];
}

}  // namespace

int32_t VelocityDivisor(int index) {
  return LeadingNumber(ClampedEntry(kVelocityTable, index));
}

int32_t AutoChangeThreshold(int index) {
  return LeadingNumber(ClampedEntry(kSensitivityTable, index));
}

}  // namespace km4r
