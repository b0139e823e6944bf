// The Windows side of the commands: where the profile lives, and `live`,
// which needs the Linux build's hidraw layer.
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
         "'config' (the plug-in's own dialog), scenarios ('run') and the demo ('demo'). Which\n"
         "position each knob reports: see \"Which position each knob reports\" in\n"
         "USER_GUIDE.html.\n";
  return 1;
}

}  // namespace km4r::bench
