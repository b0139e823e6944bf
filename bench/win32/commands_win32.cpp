// Where the profile lives on Windows.
#include <cstdlib>
#include <filesystem>

#include "bench/commands.h"

namespace km4r::bench {

std::string DefaultProfilePath() {
  const char* appData = std::getenv("APPDATA");
  const std::filesystem::path base = appData != nullptr && *appData != '\0'
                                         ? std::filesystem::path(appData)
                                         : std::filesystem::current_path();
  return (base / "km4r-pendant" / "profile.xml").string();
}

}  // namespace km4r::bench
