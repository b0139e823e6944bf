// One row per pendant setting: its profile key, default, values, dialog
// control and label, and the field of PendantSettings that holds it. Load,
// save, the configuration dialog (on every platform) and the bench all work
// from this table, so a setting is described here and nowhere else.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "resources/resource_ids.h"
#include "settings/choice_tables.h"
#include "settings/pendant_settings.h"

namespace km4r {

enum class SettingKind {
  Choice,  // index into a choice table, edited in a drop-down list
  Number,  // integer, edited in a text field
  Flag,    // 0 or 1, edited with a check box
};

struct SettingDescriptor {
  const char* key;
  int32_t defaultValue;
  SettingKind kind;
  std::span<const std::string_view> choices;  // Choice only
  int controlId;
  int tabOrder;       // position of the control in the dialog, from 0
  const char* label;  // the dialog's text for the control
  int16_t PendantSettings::*i16;
  int32_t PendantSettings::*i32;
  uint8_t PendantSettings::*flag;
};

namespace setting_row {
constexpr SettingDescriptor Choice(const char* key, int32_t def,
                                   std::span<const std::string_view> table, int id, int tab,
                                   const char* label, int16_t PendantSettings::*f) {
  return {key, def, SettingKind::Choice, table, id, tab, label, f, nullptr, nullptr};
}
constexpr SettingDescriptor Number(const char* key, int32_t def, int id, int tab, const char* label,
                                   int32_t PendantSettings::*f) {
  return {key, def, SettingKind::Number, {}, id, tab, label, nullptr, f, nullptr};
}
constexpr SettingDescriptor Flag(const char* key, int32_t def, int id, int tab, const char* label,
                                 uint8_t PendantSettings::*f) {
  return {key, def, SettingKind::Flag, {}, id, tab, label, nullptr, nullptr, f};
}
}  // namespace setting_row

inline constexpr const char* kStepSizeLabel = "Step Size Selection. Set NONE to Skip.";
inline constexpr const char* kScreenLabel = "Screen selection. Set NONE to skip";

// In the profile's load and save order.
inline constexpr SettingDescriptor kSettingDescriptors[] = {
    setting_row::Choice("StepSize1", 2, kStepSizeTable, IDC_STEPSIZE1, 0, kStepSizeLabel,
                        &PendantSettings::StepSize1),
    setting_row::Choice("StepSize2", 1, kStepSizeTable, IDC_STEPSIZE2, 1, kStepSizeLabel,
                        &PendantSettings::StepSize2),
    setting_row::Choice("StepSize3", 3, kStepSizeTable, IDC_STEPSIZE3, 2, kStepSizeLabel,
                        &PendantSettings::StepSize3),
    setting_row::Choice("ScreenSel1", 1, kScreenTable, IDC_SCREENSEL1, 8, kScreenLabel,
                        &PendantSettings::ScreenSel1),
    setting_row::Choice("ScreenSel2", 2, kScreenTable, IDC_SCREENSEL2, 9, kScreenLabel,
                        &PendantSettings::ScreenSel2),
    setting_row::Choice("ScreenSel3", 3, kScreenTable, IDC_SCREENSEL3, 10, kScreenLabel,
                        &PendantSettings::ScreenSel3),
    setting_row::Number("StepJogRate", 100, IDC_STEPJOGRATE, 3,
                        "Step Jogging Feed Rate. Set 0 to Use Feed Rate Currently in the System.",
                        &PendantSettings::StepJogRate),
    setting_row::Number("DelaySteps", 25, IDC_DELAYSTEPS, 4,
                        "Steps to Delay the Start of Axis Movement in Continous Mode. 0 to 100.",
                        &PendantSettings::DelaySteps),
    setting_row::Flag("DisplyRPM", 0, IDC_DISPLYRPM, 11, "Display Spindle Speed RPM",
                      &PendantSettings::DisplyRPM),
    setting_row::Choice("AutoChangeSens", 0, kSensitivityTable, IDC_AUTOCHANGESENS, 5,
                        "Step / Vel  Mode Switch Sensitivity.\nSelect 0 for Step only mode",
                        &PendantSettings::AutoChangeSens),
    setting_row::Choice("VelocityInAuto", 5, kVelocityTable, IDC_VELOCITYINAUTO, 6,
                        "Speed Change Sensitivity in Velocity Mode.",
                        &PendantSettings::VelocityInAuto),
    setting_row::Choice("Decidigit", 2, kDigitsTable, IDC_DECIDIGIT, 7,
                        "Number of decimal digits for axis DRO", &PendantSettings::Decidigit),
    setting_row::Flag("CAmode", 0, IDC_CAMODE, 12, "Use A Axis in C%-A Mode (v2 only).",
                      &PendantSettings::CAmode),
};
inline constexpr int kSettingCount =
    static_cast<int>(sizeof kSettingDescriptors / sizeof kSettingDescriptors[0]);

// The setting's value as the profile holds it (flags as 0 or 1).
constexpr int32_t SettingValue(const PendantSettings& s, const SettingDescriptor& d) {
  switch (d.kind) {
    case SettingKind::Choice:
      return s.*d.i16;
    case SettingKind::Number:
      return s.*d.i32;
    case SettingKind::Flag:
      return s.*d.flag != 0 ? 1 : 0;
  }
  return 0;
}

// Stores a profile value: list settings keep its low 16 bits, flags any
// non-zero value as 1.
constexpr void SetSettingValue(PendantSettings& s, const SettingDescriptor& d, int32_t v) {
  switch (d.kind) {
    case SettingKind::Choice:
      s.*d.i16 = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v)));
      break;
    case SettingKind::Number:
      s.*d.i32 = v;
      break;
    case SettingKind::Flag:
      s.*d.flag = v != 0 ? 1 : 0;
      break;
  }
}

// The row whose control is id, or nullptr.
constexpr const SettingDescriptor* SettingOfControl(int id) {
  for (const SettingDescriptor& d : kSettingDescriptors)
    if (d.controlId == id) return &d;
  return nullptr;
}

}  // namespace km4r
