#include "settings/config_dialog.h"

#include <cstdio>
#include <string>

#include "settings/choice_tables.h"
#include "settings/profile_store.h"

namespace km4r {

namespace dlg = platform::dialog_id;

namespace {

constexpr const char* kNotAnInteger = "Please enter an integer.";
constexpr std::size_t kFieldCharsRead = 63;

template <std::size_t N>
void FillList(platform::DialogView& view, int id, const std::array<std::string_view, N>& table,
              int setting) {
  view.ClearList(id);
  for (std::string_view entry : table) view.AddListItem(id, std::string(ShownText(entry)).c_str());
  view.SetListSelection(id, setting >= 0 && setting < static_cast<int>(N) ? setting : -1);
}

// A list left without a selection keeps the setting as it was: no user of
// the settings copes with "none".
template <std::size_t N>
void StoreSelection(platform::DialogView& view, int id, const std::array<std::string_view, N>&,
                    int16_t& setting) {
  int sel = view.ListSelection(id);
  if (sel >= 0 && sel < static_cast<int>(N)) setting = static_cast<int16_t>(sel);
}

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
  stepJogRate_ = settings_.StepJogRate;
  delaySteps_ = settings_.DelaySteps;
  displyRpm_ = settings_.DisplyRPM != 0 ? 1 : 0;
  caMode_ = settings_.CAmode != 0 ? 1 : 0;

  FillList(view_, dlg::kStepSize1, kStepSizeTable, settings_.StepSize1);
  FillList(view_, dlg::kStepSize2, kStepSizeTable, settings_.StepSize2);
  FillList(view_, dlg::kStepSize3, kStepSizeTable, settings_.StepSize3);
  FillList(view_, dlg::kVelocityInAuto, kVelocityTable, settings_.VelocityInAuto);
  FillList(view_, dlg::kAutoChangeSens, kSensitivityTable, settings_.AutoChangeSens);
  FillList(view_, dlg::kDecidigit, kDigitsTable, settings_.Decidigit);
  FillList(view_, dlg::kScreenSel1, kScreenTable, settings_.ScreenSel1);
  FillList(view_, dlg::kScreenSel2, kScreenTable, settings_.ScreenSel2);
  FillList(view_, dlg::kScreenSel3, kScreenTable, settings_.ScreenSel3);

  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(stepJogRate_));
  view_.SetFieldText(dlg::kStepJogRate, text);
  std::snprintf(text, sizeof text, "%d", static_cast<int>(delaySteps_));
  view_.SetFieldText(dlg::kDelaySteps, text);
  view_.SetChecked(dlg::kDisplyRPM, displyRpm_ != 0);
  view_.SetChecked(dlg::kCAmode, caMode_ != 0);
}

bool ConfigDialog::OnOk() {
  for (int id : {dlg::kStepJogRate, dlg::kDelaySteps}) {
    int32_t value = 0;
    if (!ReadIntegerField(view_.FieldText(id), value)) {
      view_.ShowMessage(kNotAnInteger);
      view_.SetFocus(id);
      return false;
    }
    (id == dlg::kStepJogRate ? stepJogRate_ : delaySteps_) = value;
  }
  displyRpm_ = view_.Checked(dlg::kDisplyRPM) ? 1 : 0;
  caMode_ = view_.Checked(dlg::kCAmode) ? 1 : 0;

  StoreSelection(view_, dlg::kStepSize1, kStepSizeTable, settings_.StepSize1);
  StoreSelection(view_, dlg::kStepSize2, kStepSizeTable, settings_.StepSize2);
  StoreSelection(view_, dlg::kStepSize3, kStepSizeTable, settings_.StepSize3);
  StoreSelection(view_, dlg::kScreenSel1, kScreenTable, settings_.ScreenSel1);
  StoreSelection(view_, dlg::kScreenSel2, kScreenTable, settings_.ScreenSel2);
  StoreSelection(view_, dlg::kScreenSel3, kScreenTable, settings_.ScreenSel3);
  settings_.StepJogRate = stepJogRate_;
  settings_.DelaySteps = delaySteps_;
  settings_.DisplyRPM = displyRpm_ != 0 ? 1 : 0;
  settings_.CAmode = caMode_ != 0 ? 1 : 0;
  StoreSelection(view_, dlg::kVelocityInAuto, kVelocityTable, settings_.VelocityInAuto);
  StoreSelection(view_, dlg::kAutoChangeSens, kSensitivityTable, settings_.AutoChangeSens);
  StoreSelection(view_, dlg::kDecidigit, kDigitsTable, settings_.Decidigit);
  return true;
}

platform::DialogResult RunConfigDialog(PendantSettings& settings) {
  std::unique_ptr<platform::DialogView> view = platform::CreateDialogView();
  if (!view) return platform::DialogResult::Cancel;
  ConfigDialog dialog(settings, *view);
  return dialog.DoModal();
}

}  // namespace km4r
