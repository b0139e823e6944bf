#include "hal/ini_settings.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "bench/profile_edit.h"
#include "settings/setting_descriptors.h"

namespace km4r::hal {

namespace {
std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r");
  const auto e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}
}  // namespace

bool WriteIniSettings(const std::string& iniText, const std::string& profilePath,
                      std::string* error) {
  std::istringstream in(iniText);
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      inSection = line == "[KM4R]";
      continue;
    }
    const auto eq = line.find('=');
    if (!inSection || eq == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, eq));
    for (const SettingDescriptor& d : kSettingDescriptors) {
      if (key == d.key &&
          !bench::SetProfileValue(profilePath, key, Trim(line.substr(eq + 1)), error))
        return false;
    }
  }
  return true;
}

IniProfile::~IniProfile() {
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

bool IniProfile::Make(const std::string& iniPath, std::string* error) {
  std::ifstream file(iniPath, std::ios::binary);
  if (!file) {
    *error = "cannot read the INI file " + iniPath;
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/km4r-pendant.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    *error = "cannot make a private directory for the INI's settings";
    return false;
  }
  dir_ = pattern;
  return WriteIniSettings(text.str(), path(), error);
}

}  // namespace km4r::hal
