// Opens the configuration form on the terminal for the profile named on the
// command line, as the host's Config call does.
#include <cstdio>

#include "platform/host_string.h"
#include "plugin/exports.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PROFILE.xml\n", argv[0]);
    return 2;
  }
  SetProName(km4r::platform::HostStringArgument(argv[1]));
  Config();
  std::printf("config closed\n");
  return 0;
}
