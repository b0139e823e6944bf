#include "settings/choice_tables.h"

namespace km4r {

namespace {
constexpr int kDefaultVelocityIndex = 5;
}

int32_t VelocityDivisor(int index) {
  if (index < 0 || index >= static_cast<int>(kVelocityTable.size())) index = kDefaultVelocityIndex;
  return LeadingNumber(kVelocityTable[static_cast<std::size_t>(index)]);
}

int32_t AutoChangeThreshold(int index) {
  if (index < 0 || index >= static_cast<int>(kSensitivityTable.size())) return 0;
  return LeadingNumber(kSensitivityTable[static_cast<std::size_t>(index)]);
}

}  // namespace km4r
