#include "plugin/profile_outcome.h"

#include "plugin/exports.h"
#include "plugin/module_state.h"

namespace km4r {

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
    text += "The file was left untouched. ";
    switch (saved.why) {
      case ProfileSaveResult::ReadOnlyFile:
        text += "Clear its read-only attribute (or give yourself write permission to it)";
        break;
      case ProfileSaveResult::FolderNotWritable:
        text += "Make its folder writable, or choose another profile";
        break;
      case ProfileSaveResult::Damaged:
        text += "Repair it, or move it away";
        break;
      case ProfileSaveResult::Other:
        text += "Mend the cause";
        break;
    }
    text += ", then open this configuration again.";
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
