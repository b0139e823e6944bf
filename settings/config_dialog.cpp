#include "settings/config_dialog.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "settings/choice_tables.h"
#include "settings/profile_store.h"
#include "settings/setting_descriptors.h"

namespace km4r {

namespace {

constexpr const char* kNotAnInteger = "Please enter an integer.";
constexpr std::size_t kFieldCharsRead = 63;

// The lists are filled in this order, the number fields read in this one.
constexpr int kListFillOrder[] = {IDC_STEPSIZE1,      IDC_STEPSIZE2,      IDC_STEPSIZE3,
                                  IDC_VELOCITYINAUTO, IDC_AUTOCHANGESENS, IDC_DECIDIGIT,
                                  IDC_SCREENSEL1,     IDC_SCREENSEL2,     IDC_SCREENSEL3};
constexpr int kFieldReadOrder[] = {IDC_STEPJOGRATE, IDC_DELAYSTEPS};

constexpr platform::ControlKind ControlOf(SettingKind kind) {
  switch (kind) {
    case SettingKind::Choice:
      return platform::ControlKind::List;
    case SettingKind::Number:
      return platform::ControlKind::Field;
    case SettingKind::Flag:
      break;
  }
  return platform::ControlKind::Check;
}

// The settings as the view's controls, in the dialog's tab order.
struct DialogRows {
  std::array<platform::DialogRow, kSettingCount> rows{};
  constexpr DialogRows() {
    for (const SettingDescriptor& d : kSettingDescriptors)
      rows[d.tabOrder] = {ControlOf(d.kind), d.controlId, d.label};
  }
};
constexpr DialogRows kDialogRows;
static_assert(std::ranges::all_of(kDialogRows.rows,
                                  [](const auto& r) { return r.label != nullptr; }),
              "each tab order from 0 to kSettingCount - 1 belongs to one setting");

bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

bool ReadIntegerField(std::string_view text, int32_t& value) {
  text = text.substr(0, kFieldCharsRead);
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  std::size_t digits = i;
  if (digits < text.size() && (text[digits] == '+' || text[digits] == '-')) ++digits;
  if (digits >= text.size() || text[digits] < '0' || text[digits] > '9') return false;
  value = ParseProfileInt(std::string(text).c_str());
  return true;
}

ConfigDialog::ConfigDialog(PendantSettings& settings, platform::DialogView& view)
    : settings_(settings), view_(view) {}

platform::DialogResult ConfigDialog::DoModal() {
  return view_.RunModal([this] { OnInitDialog(); }, [this] { return OnOk(); });
}

void ConfigDialog::OnInitDialog() {
  for (int id : kListFillOrder) {
    const SettingDescriptor& d = *SettingOfControl(id);
    const int setting = SettingValue(settings_, d);
    const int count = static_cast<int>(d.choices.size());
    view_.ClearList(id);
    for (std::string_view entry : d.choices)
      view_.AddListItem(id, std::string(ShownText(entry)).c_str());
    view_.SetListSelection(id, setting >= 0 && setting < count ? setting : -1);
  }
  for (const SettingDescriptor& d : kSettingDescriptors) {
    if (d.kind == SettingKind::Number) {
      char text[16];
      std::snprintf(text, sizeof text, "%d", static_cast<int>(SettingValue(settings_, d)));
      view_.SetFieldText(d.controlId, text);
    } else if (d.kind == SettingKind::Flag) {
      view_.SetChecked(d.controlId, SettingValue(settings_, d) != 0);
    }
  }
}

bool ConfigDialog::OnOk() {
  int32_t numbers[std::size(kFieldReadOrder)] = {};
  for (std::size_t i = 0; i < std::size(kFieldReadOrder); ++i) {
    if (!ReadIntegerField(view_.FieldText(kFieldReadOrder[i]), numbers[i])) {
      view_.ShowMessage(kNotAnInteger);
      view_.SetFocus(kFieldReadOrder[i]);
      return false;
    }
  }
  for (std::size_t i = 0; i < std::size(kFieldReadOrder); ++i)
    SetSettingValue(settings_, *SettingOfControl(kFieldReadOrder[i]), numbers[i]);
  for (const SettingDescriptor& d : kSettingDescriptors) {
    if (d.kind == SettingKind::Flag) {
      SetSettingValue(settings_, d, view_.Checked(d.controlId) ? 1 : 0);
    } else if (d.kind == SettingKind::Choice) {
      // A list left without a selection keeps the setting as it was: no user
      // of the settings copes with "none".
      const int sel = view_.ListSelection(d.controlId);
      if (sel >= 0 && sel < static_cast<int>(d.choices.size())) SetSettingValue(settings_, d, sel);
    }
  }
  return true;
}

platform::DialogResult RunConfigDialog(PendantSettings& settings) {
  std::unique_ptr<platform::DialogView> view = platform::CreateDialogView(kDialogRows.rows);
  if (!view) return platform::DialogResult::Cancel;
  ConfigDialog dialog(settings, *view);
  return dialog.DoModal();
}

}  // namespace km4r
