// What the user, and the bench, learn of the profile: Config tells the user
// in a message box when the settings could not be kept, and the last outcome
// is what the module's KM4R_ProfileOutcome export returns.
#pragma once

#include <string>

#include "platform/dialog_view.h"
#include "settings/profile_store.h"

namespace km4r {

// "saved", "cancelled" or "not saved: REASON", then what became of copies
// an interrupted save left.
std::string ConfigOutcome(platform::DialogResult shown, const ProfileSaveResult& saved);

// The message box text for settings that were not kept, or for a copy that
// was restored or kept aside; "" when there is nothing to say.
std::string ConfigNotice(const ProfileSaveResult& saved, const std::string& profilePath);

// Before the dialog opens on a profile that cannot take the settings
// (Prospect not saved): why, and what to do.
std::string ConfigWarning(const ProfileSaveResult& prospect);

// Keeps the outcome for the export and, when a profile was named, shows the
// notice when there is one.
void ReportConfigOutcome(platform::DialogResult shown, const ProfileSaveResult& saved);

// After SetProName and PostInitControl: "" (loaded), why the file was left
// alone, or "loaded"; then "; " and what became of copies an interrupted
// save left, when anything did.
void NoteProfileLoad(const ProfileStore& store);

}  // namespace km4r
