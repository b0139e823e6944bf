#include "plugin/profile_outcome.h"

#include "plugin/exports.h"
#include "plugin/module_state.h"

namespace km4r {

namespace {

// What the user can do about why a profile cannot take the settings.
std::string Advice(ProfileSaveResult::Why why) {
  switch (why) {
    case ProfileSaveResult::ReadOnlyFile:
      return "Clear its read-only attribute (or give yourself write permission to it)";
    case ProfileSaveResult::FolderNotWritable:
      return "Make its folder writable, or choose another profile";
    case ProfileSaveResult::Damaged:
      return "Repair it, or move it away";
    case ProfileSaveResult::Other:
      break;
  }
  return "Mend the cause";
}

}  // namespace

std::string ConfigWarning(const ProfileSaveResult& prospect) {
  return "The pendant settings cannot be kept in this profile.\n\n" + prospect.reason +
         ".\n\nThe configuration opens on the settings in use; what you change there is used "
         "until the host stops, but not written. " +
         Advice(prospect.why) + ", then open this configuration again to keep them.";
}

std::string ConfigOutcome(platform::DialogResult shown, const ProfileSaveResult& saved) {
  if (!saved) return saved.Describe();
  std::string outcome = shown == platform::DialogResult::Ok ? "saved" : "cancelled";
  // A cancel still writes the keys the profile lacked or held out of range.
  if (shown != platform::DialogResult::Ok && saved.outcome != ProfileSaveResult::Unchanged)
    outcome += "; the pendant keys the profile lacked or held out of range were written";
  const std::string note = saved.CopyNote();
  if (!note.empty()) outcome += "; " + note;
  return outcome;
}

std::string ConfigNotice(const ProfileSaveResult& saved, const std::string& profilePath) {
  const std::string note = saved.CopyNote();
  if (saved && note.empty()) return {};
  std::string text;
  if (!saved) {
    text = "The pendant settings were not saved.\n\n" + saved.reason + ".\n\n";
    // The path once: most reasons name it already.
    if (saved.reason.find(profilePath) == std::string::npos)
      text +=
          "Profile: " + (profilePath.empty() ? "none (the host named no profile)" : profilePath) +
          "\n\n";
    text += "The file was left untouched. " + Advice(saved.why) +
            ", then open this configuration again.";
  }
  if (!note.empty()) text += (text.empty() ? "" : "\n\n") + note + ".";
  return text;
}

void ReportConfigOutcome(platform::DialogResult shown, const ProfileSaveResult& saved) {
  ModuleState& m = Module();
  m.profileOutcome = ConfigOutcome(shown, saved);
  // Without a profile named there is no file to speak of (a host names its
  // profile before anything else); the outcome still says so.
  if (m.profilePath.empty()) return;
  const std::string notice = ConfigNotice(saved, m.profilePath);
  if (!notice.empty()) platform::ShowNotice(notice.c_str());
}

void NoteProfileLoad(const ProfileStore& store) {
  std::string outcome = store.LoadProblem();
  const std::string note = store.LoadNote();
  if (!note.empty()) outcome += (outcome.empty() ? "loaded" : "") + ("; " + note);
  Module().profileOutcome = std::move(outcome);
}

}  // namespace km4r

extern "C" const char* KM4R_ProfileOutcome() {
  return km4r::Module().profileOutcome.c_str();
}
