// Moving to the next configured host screen. The decoder's wheel starts and
// the ScreenSelect mode both use this one implementation.
#pragma once

namespace km4r {

class PendantWindow;

// The selector positions in which, with the enable switch held, the wheel
// changes host screens (and the display shows the screen page).
bool InScreenSelectPosition(const PendantWindow& w);

// Host button code of a ScreenSel setting, or -1 for a value outside the table
// (which leaves the slot's code as it was).
int ScreenCodeForSetting(int setting);

// Refreshes the three screen codes from the settings, then moves screenSlot to
// the first configured slot after it, presses that screen's button and
// remembers it as the current screen. A slot outside 1..3 goes back to 1
// without a press; with no other slot configured nothing happens.
void SelectNextScreen(PendantWindow& w);

}  // namespace km4r
