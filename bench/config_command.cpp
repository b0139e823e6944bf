#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <system_error>

#include "bench/bench_host.h"
#include "bench/commands.h"
#include "bench/profile_file.h"
#include "platform/clock.h"
#include "settings/setting_descriptors.h"

namespace km4r::bench {

namespace fs = std::filesystem;

namespace {

// What the plug-in loads for a missing key, so that a key the dialog only
// filled in is not taken for an edit.
std::map<std::string, long> Defaults() {
  std::map<std::string, long> out;
  for (const SettingDescriptor& d : kSettingDescriptors) out[d.key] = d.defaultValue;
  return out;
}

// The thirteen settings as the profile holds them, defaults filled in.
bool ReadSettings(const std::string& path, std::map<std::string, long>* out, std::string* error) {
  std::vector<std::pair<std::string, std::string>> keys;
  if (!ReadPendantSection(path, &keys, error)) return false;
  *out = Defaults();
  for (const auto& [key, text] : keys) {
    auto it = out->find(key);
    if (it == out->end() || text.empty()) continue;
    it->second = std::strtol(text.c_str(), nullptr, 10);
    const SettingDescriptor* d = nullptr;
    for (const SettingDescriptor& row : kSettingDescriptors)
      if (key == row.key) d = &row;
    if (d != nullptr && d->kind == SettingKind::Flag) it->second = it->second != 0 ? 1 : 0;
  }
  return true;
}

std::string Errno(int why) {
  return std::strerror(why);
}

// Why the profile cannot be loaded and saved, "" when it can.
std::string ProfileProblem(const fs::path& path) {
  std::error_code ec;
  const fs::path dir = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  fs::create_directories(dir, ec);
  if (ec) return "cannot create the directory " + dir.string() + ": " + ec.message();
  const fs::file_status st = fs::status(path, ec);
  if (!fs::exists(st)) {
    if (access(dir.c_str(), W_OK) != 0)
      return "cannot create " + path.string() + ": " + Errno(errno);
    return "";
  }
  if (!fs::is_regular_file(st)) return path.string() + " is not a regular file";
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "cannot read " + path.string() + ": " + Errno(errno);
  std::fclose(f);
  if (access(path.c_str(), W_OK) != 0) return "cannot write " + path.string() + ": " + Errno(errno);
  std::vector<std::pair<std::string, std::string>> keys;
  std::string error;
  if (!ReadPendantSection(path.string(), &keys, &error)) return error;
  return "";
}

}  // namespace

std::string DefaultProfilePath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const fs::path base = xdg != nullptr && *xdg != '\0'
                            ? fs::path(xdg)
                            : fs::path(home != nullptr ? home : ".") / ".config";
  return (base / "km4r-pendant" / "profile.xml").string();
}

int RunConfig(const std::string& modulePath, const std::string& profilePath, std::ostream& out,
              std::ostream& err) {
  if (profilePath.empty()) {
    err << "pendant-bench config: the profile path is empty\n";
    return 2;
  }
  std::error_code ec;
  if (fs::is_directory(profilePath, ec)) {
    err << "pendant-bench config: " << profilePath
        << " is a directory; --profile takes the profile file\n";
    return 2;
  }
  // Refused before the dialog opens, so that no edit is made in vain.
  const std::string problem = ProfileProblem(profilePath);
  if (!problem.empty()) {
    err << "pendant-bench config: not saved: " << problem << '\n';
    return 1;
  }
  std::map<std::string, long> before;
  std::string error;
  const bool existed = fs::exists(profilePath, ec);
  if (existed && !ReadSettings(profilePath, &before, &error)) {
    err << "pendant-bench config: not saved: " << error << '\n';
    return 1;
  }
  if (!existed) before = Defaults();

  platform::VirtualClock clock;
  BenchHost host(clock, [&out](const std::string& line) { out << line << '\n'; });
  if (!host.Load(modulePath, &error)) {
    err << "pendant-bench: " << error << '\n';
    return 1;
  }
  // Config needs only the profile path: the host names the profile (which
  // creates the file when missing) and opens the dialog.
  host.Name(profilePath);
  host.ConfigInteractive();

  // The dialog's last prompt may still be open on the line.
  out.flush();
  if (isatty(STDIN_FILENO) == 0) out << '\n';
  std::map<std::string, long> after;
  if (!fs::exists(profilePath, ec) || !ReadSettings(profilePath, &after, &error)) {
    err << "pendant-bench config: not saved: the plug-in could not write " << profilePath
        << (error.empty() ? "" : ": " + error) << '\n';
    return 1;
  }
  std::vector<std::pair<std::string, std::string>> keys;
  ReadPendantSection(profilePath, &keys, &error);
  if (keys.size() < static_cast<std::size_t>(kSettingCount)) {
    err << "pendant-bench config: not saved: the settings did not reach " << profilePath << '\n';
    return 1;
  }
  if (after == before) {
    out << "cancelled: no setting changed in " << profilePath << '\n';
  } else {
    out << "saved " << profilePath << '\n';
  }
  return 0;
}

}  // namespace km4r::bench
