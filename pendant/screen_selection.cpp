#include "pendant/screen_selection.h"

#include "pendant/input_words.h"
#include "pendant/pendant_window.h"
#include "plugin/host_calls.h"
#include "settings/choice_tables.h"

namespace km4r {

bool InScreenSelectPosition(const PendantWindow& w) {
  const bool enable = w.enableHeld != 0;
  return (w.mode2Active != 0 && enable && AxisSelectorBits(w.inputWord0) > 3) ||
         (w.mode1Active != 0 && enable && StepSelectorBits(w.inputWord1) > 3);
}

int ScreenCodeForSetting(int setting) {
  if (setting < 0 || setting >= static_cast<int>(kScreenButtonCodes.size())) return -1;
  return kScreenButtonCodes[static_cast<std::size_t>(setting)];
}

void SelectNextScreen(PendantWindow& w) {
  const PendantSettings& s = Module().settings;
  const int settings[3] = {s.ScreenSel1, s.ScreenSel2, s.ScreenSel3};
  int32_t* codes[3] = {&w.screenCode1, &w.screenCode2, &w.screenCode3};
  for (int i = 0; i < 3; ++i) {
    const int code = ScreenCodeForSetting(settings[i]);
    if (code >= 0) *codes[i] = code;
  }
  if (w.screenSlot < 1 || w.screenSlot > 3) {
    w.screenSlot = 1;
    return;
  }
  // Candidates after slot n are n+1 then n+2, wrapping within 1..3.
  for (int step = 1; step <= 2; ++step) {
    const int slot = (w.screenSlot - 1 + step) % 3 + 1;
    // Code 0 marks a slot without a screen. A setting that went from 0 to a
    // value outside the table keeps that code, and button 0 is no screen.
    if (settings[slot - 1] == 0 || *codes[slot - 1] == 0) continue;
    w.screenSlot = slot;
    const int code = static_cast<int16_t>(*codes[slot - 1]);
    host::DoButton(code);
    Module().currentScreenCode = code;
    return;
  }
}

}  // namespace km4r
