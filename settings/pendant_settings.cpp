#include "settings/pendant_settings.h"

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

void SavePendantSettings(ProfileStore& store, const PendantSettings& s) {
  for (const SettingDescriptor& d : kSettingDescriptors)
    store.SetInt(kPendantSection, d.key, SettingValue(s, d));
}

}  // namespace km4r
