#include "settings/pendant_settings.h"

#include <array>
#include <optional>

#include "settings/profile_store.h"
#include "settings/setting_descriptors.h"

namespace km4r {

void LoadPendantSettings(ProfileStore& store, PendantSettings& s) {
  for (const SettingDescriptor& d : kSettingDescriptors) {
    SetSettingValue(s, d, store.GetInt(kPendantSection, d.key, d.defaultValue));
    // The two sensitivities index their tables at every jog; a hand-edited
    // value outside them falls back to the default rather than to the
    // nearest end, which would silently pick an extreme behaviour.
    if (d.i16 != &PendantSettings::AutoChangeSens && d.i16 != &PendantSettings::VelocityInAuto)
      continue;
    int16_t& v = s.*d.i16;
    if (v < 0 || static_cast<std::size_t>(v) >= d.choices.size())
      v = static_cast<int16_t>(d.defaultValue);
  }
}

namespace {

using StoredKeys = std::array<std::optional<int32_t>, kSettingCount>;

// The keys as the profile holds them (nothing where a key is missing).
StoredKeys ReadKeys(ProfileStore& store) {
  StoredKeys out;
  for (int i = 0; i < kSettingCount; ++i) {
    const SettingDescriptor& d = kSettingDescriptors[i];
    if (store.HasKey(kPendantSection, d.key))
      out[i] = store.GetInt(kPendantSection, d.key, d.defaultValue);
  }
  return out;
}

}  // namespace

void SavePendantSettings(ProfileStore& store, const PendantSettings& s) {
  for (const SettingDescriptor& d : kSettingDescriptors)
    store.SetInt(kPendantSection, d.key, SettingValue(s, d));
}

ProfileSaveResult EditPendantSettings(PendantSettings& settings,
                                      const std::function<void(PendantSettings&)>& edit,
                                      const std::function<void(const ProfileSaveResult&)>& warn) {
  StoredKeys loaded;
  ProfileSaveResult prospect;
  {
    ProfileStore store;
    loaded = ReadKeys(store);
    // A profile that cannot be read leaves the running settings to edit:
    // the defaults would replace them even on Cancel.
    if (store.LoadProblem().empty()) LoadPendantSettings(store, settings);
    prospect = store.Prospect();
  }
  // Said before the edit, not after it.
  if (!prospect && warn) warn(prospect);
  const PendantSettings before = settings;
  edit(settings);
  // The profile as it is now: another program may have written it while the
  // dialog was open.
  ProfileStore store;
  const StoredKeys now = ReadKeys(store);
  for (int i = 0; i < kSettingCount; ++i) {
    const SettingDescriptor& d = kSettingDescriptors[i];
    const bool edited = SettingValue(settings, d) != SettingValue(before, d);
    if (edited || !now[i] || now[i] == loaded[i])
      store.SetInt(kPendantSection, d.key, SettingValue(settings, d));
  }
  LoadPendantSettings(store, settings);
  return store.Save();
}

}  // namespace km4r
