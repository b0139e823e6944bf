// Settings from LinuxCNC's INI file: the profile keys found in its [KM4R]
// section, written into a profile of the component's own (a private
// directory it makes and removes), which the module then loads as usual.
#pragma once

#include <string>

namespace km4r::hal {

// Values of the thirteen profile keys in the text's [KM4R] section, written
// into the profile at path; false with the reason. Keys not given keep their
// defaults; other keys of the section are left to other readers.
bool WriteIniSettings(const std::string& iniText, const std::string& profilePath,
                      std::string* error);

// A private directory of the component's own with the INI's settings in
// profile.xml; removed by the destructor.
class IniProfile {
 public:
  IniProfile() = default;
  ~IniProfile();
  IniProfile(const IniProfile&) = delete;
  IniProfile& operator=(const IniProfile&) = delete;

  bool Make(const std::string& iniPath, std::string* error);
  std::string path() const { return dir_.empty() ? "" : dir_ + "/profile.xml"; }

 private:
  std::string dir_;
};

}  // namespace km4r::hal
