// Where the profile lives on Linux.
#include <cstdlib>
#include <filesystem>

#include "bench/commands.h"

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

}  // namespace km4r::bench
