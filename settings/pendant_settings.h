// The thirteen pendant settings as one module-level record; each field bears
// the name of its profile key.
#pragma once

#include <cstdint>
#include <functional>

#include "settings/profile_store.h"

namespace km4r {

struct PendantSettings {
  int16_t StepSize1 = 0;
  int16_t StepSize2 = 0;
  int16_t StepSize3 = 0;
  int16_t ScreenSel1 = 0;
  int16_t ScreenSel2 = 0;
  int16_t ScreenSel3 = 0;
  int32_t StepJogRate = 0;
  int32_t DelaySteps = 0;
  uint8_t DisplyRPM = 0;
  int16_t AutoChangeSens = 0;
  int16_t VelocityInAuto = 0;
  int16_t Decidigit = 0;
  uint8_t CAmode = 0;

  bool operator==(const PendantSettings&) const = default;
};

inline constexpr const char* kPendantSection = "Quorvix_KM4R_Pendant";

// Fills the record from the profile (missing keys take their defaults).
void LoadPendantSettings(ProfileStore& store, PendantSettings& settings);
// Writes all thirteen fields to the profile.
void SavePendantSettings(ProfileStore& store, const PendantSettings& settings);

// Loads the settings, lets edit change them (the configuration dialog), and
// saves them into the profile as it is once edit returns: a key edit changed
// is written, and so is every other key unless another program changed it in
// the meantime, whose value then stands. settings ends as the profile holds it.
// warn, when given, hears before edit why the profile cannot take the
// settings, when it cannot.
ProfileSaveResult EditPendantSettings(
    PendantSettings& settings, const std::function<void(PendantSettings&)>& edit,
    const std::function<void(const ProfileSaveResult&)>& warn = nullptr);

}  // namespace km4r
