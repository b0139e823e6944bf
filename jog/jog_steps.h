// Steps of the jog engine that other subsystems share.
#pragma once

namespace km4r {

class PendantWindow;

// Stop request of the current axis's jog record, then "ENDJOG".
void StopAxis(PendantWindow& w);
// The same for the given axis (the one a running jog was started on).
void StopJogOf(PendantWindow& w, int axis);
// Clears jogStarted; presses 205 if 204 was pressed at the jog's start.
void ReleaseStartButton(PendantWindow& w);
// A jog a nested cycle asked for, started once the outermost cycle is back.
void StartPendingJog(PendantWindow& w);
// Replaces the host's status-line text with a copy of `text`.
void SetHostStatus(const char* text);

}  // namespace km4r
