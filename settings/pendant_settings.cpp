#include "settings/pendant_settings.h"

#include <array>
#include <iterator>
#include <optional>

#include "settings/choice_tables.h"
#include "settings/profile_store.h"

namespace km4r {

namespace {

enum class Kind { Int16, Int32, Flag };

struct Key {
  const char* name;
  int32_t defaultValue;
  Kind kind;
  int16_t PendantSettings::*i16;
  int32_t PendantSettings::*i32;
  uint8_t PendantSettings::*flag;
};

constexpr Key I16(const char* n, int32_t d, int16_t PendantSettings::*f) {
  return {n, d, Kind::Int16, f, nullptr, nullptr};
}
constexpr Key I32(const char* n, int32_t d, int32_t PendantSettings::*f) {
  return {n, d, Kind::Int32, nullptr, f, nullptr};
}
constexpr Key Flag(const char* n, int32_t d, uint8_t PendantSettings::*f) {
  return {n, d, Kind::Flag, nullptr, nullptr, f};
}

// Load and save order.
constexpr Key kKeys[] = {
    I16("StepSize1", 2, &PendantSettings::StepSize1),
    I16("StepSize2", 1, &PendantSettings::StepSize2),
    I16("StepSize3", 3, &PendantSettings::StepSize3),
    I16("ScreenSel1", 1, &PendantSettings::ScreenSel1),
    I16("ScreenSel2", 2, &PendantSettings::ScreenSel2),
    I16("ScreenSel3", 3, &PendantSettings::ScreenSel3),
    I32("StepJogRate", 100, &PendantSettings::StepJogRate),
    I32("DelaySteps", 25, &PendantSettings::DelaySteps),
    Flag("DisplyRPM", 0, &PendantSettings::DisplyRPM),
    I16("AutoChangeSens", 0, &PendantSettings::AutoChangeSens),
    I16("VelocityInAuto", 5, &PendantSettings::VelocityInAuto),
    I16("Decidigit", 2, &PendantSettings::Decidigit),
    Flag("CAmode", 0, &PendantSettings::CAmode),
};

// The two sensitivities index ten-entry tables at every jog; a hand-edited
// value outside them falls back to the default rather than to the nearest
// end, which would silently pick an extreme behaviour.
void KeepInTable(int16_t& value, std::size_t tableSize, int16_t defaultValue) {
  if (value < 0 || static_cast<std::size_t>(value) >= tableSize) value = defaultValue;
}

}  // namespace

void LoadPendantSettings(ProfileStore& store, PendantSettings& s) {
  for (const Key& k : kKeys) {
    int32_t v = store.GetInt(kPendantSection, k.name, k.defaultValue);
    switch (k.kind) {
      case Kind::Int16:
        // The record's 16-bit fields keep the low 16 bits of the value.
        s.*k.i16 = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v)));
        break;
      case Kind::Int32:
        s.*k.i32 = v;
        break;
      case Kind::Flag:
        s.*k.flag = v != 0 ? 1 : 0;
        break;
    }
  }
  KeepInTable(s.AutoChangeSens, kSensitivityTable.size(), 0);
  KeepInTable(s.VelocityInAuto, kVelocityTable.size(), 5);
}

namespace {

// The value a field is saved as.
int32_t Stored(const Key& k, const PendantSettings& s) {
  switch (k.kind) {
    case Kind::Int16:
      return s.*k.i16;
    case Kind::Int32:
      return s.*k.i32;
    case Kind::Flag:
      return s.*k.flag != 0 ? 1 : 0;
  }
  return 0;
}

using StoredKeys = std::array<std::optional<int32_t>, std::size(kKeys)>;

// The keys as the profile holds them (nothing where a key is missing).
StoredKeys ReadKeys(ProfileStore& store) {
  StoredKeys out;
  for (std::size_t i = 0; i < std::size(kKeys); ++i) {
    if (store.HasKey(kPendantSection, kKeys[i].name))
      out[i] = store.GetInt(kPendantSection, kKeys[i].name, kKeys[i].defaultValue);
  }
  return out;
}

}  // namespace

void SavePendantSettings(ProfileStore& store, const PendantSettings& s) {
  for (const Key& k : kKeys) store.SetInt(kPendantSection, k.name, Stored(k, s));
}

ProfileSaveResult EditPendantSettings(PendantSettings& settings,
                                      const std::function<void(PendantSettings&)>& edit) {
  StoredKeys loaded;
  {
    ProfileStore store;
    loaded = ReadKeys(store);
    LoadPendantSettings(store, settings);
  }
  const PendantSettings before = settings;
  edit(settings);
  // The profile as it is now: another program may have written it while the
  // dialog was open.
  ProfileStore store;
  const StoredKeys now = ReadKeys(store);
  for (std::size_t i = 0; i < std::size(kKeys); ++i) {
    const Key& k = kKeys[i];
    const bool edited = Stored(k, settings) != Stored(k, before);
    if (edited || !now[i] || now[i] == loaded[i])
      store.SetInt(kPendantSection, k.name, Stored(k, settings));
  }
  LoadPendantSettings(store, settings);
  return store.Save();
}

}  // namespace km4r
