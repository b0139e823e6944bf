#include "settings/pendant_settings.h"

#include "settings/profile_store.h"

namespace km4r {

void LoadPendantSettings(ProfileStore& store, PendantSettings& s) {
  s.StepSize1 = static_cast<int16_t>(store.GetInt(kPendantSection, "StepSize1", 2));
  s.StepSize2 = static_cast<int16_t>(store.GetInt(kPendantSection, "StepSize2", 1));
  s.StepSize3 = static_cast<int16_t>(store.GetInt(kPendantSection, "StepSize3", 3));
  s.ScreenSel1 = static_cast<int16_t>(store.GetInt(kPendantSection, "ScreenSel1", 1));
  s.ScreenSel2 = static_cast<int16_t>(store.GetInt(kPendantSection, "ScreenSel2", 2));
  s.ScreenSel3 = static_cast<int16_t>(store.GetInt(kPendantSection, "ScreenSel3", 3));
  s.StepJogRate = store.GetInt(kPendantSection, "StepJogRate", 100);
  s.DelaySteps = store.GetInt(kPendantSection, "DelaySteps", 25);
  s.DisplyRPM = store.GetInt(kPendantSection, "DisplyRPM", 0) != 0 ? 1 : 0;
  s.AutoChangeSens = static_cast<int16_t>(store.GetInt(kPendantSection, "AutoChangeSens", 0));
  s.VelocityInAuto = static_cast<int16_t>(store.GetInt(kPendantSection, "VelocityInAuto", 5));
  s.Decidigit = static_cast<int16_t>(store.GetInt(kPendantSection, "Decidigit", 2));
  s.CAmode = store.GetInt(kPendantSection, "CAmode", 0) != 0 ? 1 : 0;
}

void SavePendantSettings(ProfileStore&, const PendantSettings&) {}

}  // namespace km4r
