#include "plugin/profile_outcome.h"

#include "plugin/exports.h"
#include "plugin/module_state.h"

namespace km4r {

std::string ConfigOutcome(platform::DialogResult shown, const ProfileSaveResult& saved) {
  if (!saved) return saved.Describe();
  std::string outcome = shown == platform::DialogResult::Ok ? "saved" : "cancelled";
  if (saved.outcome == ProfileSaveResult::Restored) outcome += "; " + saved.Describe();
  return outcome;
}

std::string ConfigNotice(const ProfileSaveResult& saved, const std::string& profilePath) {
  if (saved) return {};
  std::string text = "The pendant settings were not saved.\n\n";
  text += saved.reason;
  text += ".\n\nProfile: ";
  text += profilePath.empty() ? "none (the host named no profile)" : profilePath;
  text +=
      "\n\nThe file was left untouched. Repair it, or move it away, then open this "
      "configuration again.";
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
  Module().profileOutcome = store.LoadProblem();
}

}  // namespace km4r

extern "C" const char* KM4R_ProfileOutcome() {
  return km4r::Module().profileOutcome.c_str();
}
