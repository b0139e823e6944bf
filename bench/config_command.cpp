#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "bench/bench_host.h"
#include "bench/commands.h"
#include "platform/clock.h"

namespace km4r::bench {

std::string DefaultProfilePath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::filesystem::path base =
      xdg != nullptr && *xdg != '\0'
          ? std::filesystem::path(xdg)
          : std::filesystem::path(home != nullptr ? home : ".") / ".config";
  return (base / "km4r-pendant" / "profile.xml").string();
}

int RunConfig(const std::string& modulePath, const std::string& profilePath, std::ostream& out,
              std::ostream& err) {
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::path(profilePath).parent_path();
  if (!dir.empty()) std::filesystem::create_directories(dir, ec);
  platform::VirtualClock clock;
  BenchHost host(clock, [&out](const std::string& line) { out << line << '\n'; });
  std::string error;
  if (!host.Load(modulePath, &error)) {
    err << "pendant-bench: " << error << '\n';
    return 1;
  }
  // Config needs only the profile path: the host names the profile (which
  // creates the file when missing) and opens the dialog.
  host.Name(profilePath);
  host.ConfigInteractive();
  out << "profile: " << profilePath << '\n';
  return 0;
}

}  // namespace km4r::bench
