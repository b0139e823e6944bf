// The commands that need the Linux build: `live` drives a pendant through the
// hidraw layer and `config` runs the dialog on the terminal.
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "bench/commands.h"

namespace km4r::bench {

std::string DefaultProfilePath() {
  const char* appData = std::getenv("APPDATA");
  const std::filesystem::path base = appData != nullptr && *appData != '\0'
                                         ? std::filesystem::path(appData)
                                         : std::filesystem::current_path();
  return (base / "km4r-pendant" / "profile.xml").string();
}

int RunLive(const LiveOptions&, std::ostream&, std::ostream& err) {
  err << "pendant-bench: 'live' is available in the Linux build only; this Windows build runs\n"
         "scenarios ('run') and the demo ('demo') on the virtual pendant.\n";
  return 1;
}

}  // namespace km4r::bench
