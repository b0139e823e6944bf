#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "bench/bench_host.h"
#include "bench/commands.h"
#include "bench/session_view.h"

namespace km4r::bench {

namespace fs = std::filesystem;

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
  g_stop = 1;
}

}  // namespace

int RunLive(const std::string& modulePath, const std::string& sysfsRoot, std::ostream& out,
            std::ostream& err) {
  const std::string node = FindPendantNode(sysfsRoot);
  if (node.empty()) {
    err << "pendant-bench: no pendant found: no USB HID device with vendor 04d8 and product fce7 "
           "is attached.\nConnect the pendant and try again.\n";
    return 1;
  }
  const int fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    const int why = errno;
    err << "pendant-bench: found the pendant at " << node
        << " but cannot open it: " << std::strerror(why) << "\n";
    if (why == EACCES || why == EPERM) {
      err << "Your user may not access the device. Install the udev rule shipped with the bench\n"
             "(bench/udev/60-km4r-pendant.rules) into /etc/udev/rules.d/, run\n"
             "  sudo udevadm control --reload-rules && sudo udevadm trigger\n"
             "and plug the pendant in again.\n";
    }
    return 1;
  }
  close(fd);

  platform::SteadyClock clock;
  const uint64_t t0 = clock.NowMs();
  BenchHost host(clock, [&out, &clock, t0](const std::string& line) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%9.3f s] ",
                  static_cast<double>(clock.NowMs() - t0) / 1000.0);
    out << stamp << line << '\n';
    out.flush();
  });
  std::string error;
  if (!host.Load(modulePath, &error)) {
    err << "pendant-bench: " << error << '\n';
    return 1;
  }
  SetUpDemoMachine(host.state(), host.machine());
  const std::string profile = DefaultProfilePath();
  std::error_code ec;
  fs::create_directories(fs::path(profile).parent_path(), ec);

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  out << "pendant-bench live: " << host.Start(profile) << "\npendant at " << node << ", profile "
      << profile << "\nthe display shows on the pendant; Ctrl-C stops\n";
  out.flush();

  uint64_t lastTick = clock.NowMs();
  uint64_t lastShown = lastTick;
  std::string shownPositions;
  while (g_stop == 0) {
    host.loop().PumpOnce(5);
    const uint64_t now = clock.NowMs();
    // The host calls Update about as often as the pendant cycle runs.
    while (now - lastTick >= 25) {
      lastTick += 25;
      host.Update(1);
      host.machine().Advance(25);
    }
    if (now - lastShown >= 250) {
      lastShown = now;
      double pos[6];
      for (int i = 0; i < 6; ++i) pos[i] = host.machine().Position(i);
      const std::string positions = PositionsLine(pos, 4);
      if (positions != shownPositions) {
        out << "  machine: " << positions << '\n';
        out.flush();
        shownPositions = positions;
      }
    }
  }
  host.Stop();
  out << "\nplug-in stopped\n";
  return 0;
}

}  // namespace km4r::bench
