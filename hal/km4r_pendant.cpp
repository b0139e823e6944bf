// km4r-pendant: the pendant as a LinuxCNC HAL userspace component. It loads
// the plug-in module (the same KM4R.so any host loads), plays its host with
// HAL pins (pendant_host.h) and runs its 25 ms cycle until HAL or a signal
// stops it. Device and decode errors never end it: the module waits for the
// pendant and takes it back when it returns.
#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bench/commands.h"
#include "bench/host/host_sim.h"
#include "bench/live_system.h"
#include "bench/plugin_module.h"
#include "hal/ini_settings.h"
#include "hal/pendant_host.h"
#include "hal/scenario_player.h"
#include "platform/host_string.h"
#include "platform/posix/message_loop.h"

#define ULAPI
#include <hal.h>

namespace km4r::hal {
namespace {

namespace fs = std::filesystem;

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
  g_stop = 1;
}

constexpr const char* kLetters = "xyzabc";

// Every pin lives in HAL's shared memory.
struct Pins {
  hal_s32_t* jogCounts[kAxes];
  hal_float_t* jogScale[kAxes];
  hal_bit_t* jogEnable[kAxes];
  hal_bit_t* jogPlus[kAxes];
  hal_bit_t* jogMinus[kAxes];
  hal_float_t* jogVelocity[kAxes];
  hal_float_t* position[kAxes];
  hal_float_t* maxVelocity[kAxes];
  hal_bit_t* zero[kZeroAxes];
  hal_float_t* jogSpeed;
  hal_float_t* jogRate;
  hal_s32_t* feedCounts;
  hal_float_t* feedScale;
  hal_s32_t* spindleCounts;
  hal_float_t* spindleScale;
  hal_bit_t* estop;
  hal_bit_t* estopNot;
  hal_bit_t* machineOn;
  hal_bit_t* programRunning;
  hal_bit_t* programPaused;
  hal_bit_t* estopActive;
  hal_bit_t* inPosition;
  hal_float_t* feedOverride;
  hal_float_t* spindleOverride;
  hal_float_t* spindleSpeed;
  hal_float_t* feedRate;
  hal_bit_t* connected;
  hal_s32_t* decodeErrors;
  hal_u32_t* cycles;
  hal_s32_t* virtualPlay;
  hal_s32_t* virtualDone;
  hal_s32_t* virtualLine;
};

bool MakePins(int comp, const std::string& p, bool virtualPendant, Pins* pins) {
  bool ok = true;
  auto bit = [&](hal_pin_dir_t dir, hal_bit_t** at, const std::string& name) {
    ok = ok && hal_pin_bit_newf(dir, at, comp, "%s.%s", p.c_str(), name.c_str()) == 0;
  };
  auto flt = [&](hal_pin_dir_t dir, hal_float_t** at, const std::string& name) {
    ok = ok && hal_pin_float_newf(dir, at, comp, "%s.%s", p.c_str(), name.c_str()) == 0;
  };
  auto s32 = [&](hal_pin_dir_t dir, hal_s32_t** at, const std::string& name) {
    ok = ok && hal_pin_s32_newf(dir, at, comp, "%s.%s", p.c_str(), name.c_str()) == 0;
  };
  for (int i = 0; i < kAxes; ++i) {
    const std::string axis = std::string("axis.") + kLetters[i] + ".";
    s32(HAL_OUT, &pins->jogCounts[i], axis + "jog-counts");
    flt(HAL_OUT, &pins->jogScale[i], axis + "jog-scale");
    bit(HAL_OUT, &pins->jogEnable[i], axis + "jog-enable");
    bit(HAL_OUT, &pins->jogPlus[i], axis + "jog-plus");
    bit(HAL_OUT, &pins->jogMinus[i], axis + "jog-minus");
    flt(HAL_OUT, &pins->jogVelocity[i], axis + "jog-velocity");
    flt(HAL_IN, &pins->position[i], axis + "pos");
    flt(HAL_IN, &pins->maxVelocity[i], axis + "max-velocity");
    if (i < kZeroAxes) bit(HAL_OUT, &pins->zero[i], axis + "zero");
  }
  flt(HAL_OUT, &pins->jogSpeed, "jog-speed");
  flt(HAL_OUT, &pins->jogRate, "jog-rate");
  s32(HAL_OUT, &pins->feedCounts, "feed-override.counts");
  flt(HAL_OUT, &pins->feedScale, "feed-override.scale");
  s32(HAL_OUT, &pins->spindleCounts, "spindle-override.counts");
  flt(HAL_OUT, &pins->spindleScale, "spindle-override.scale");
  bit(HAL_OUT, &pins->estop, "estop");
  bit(HAL_OUT, &pins->estopNot, "estop-not");
  bit(HAL_IN, &pins->machineOn, "machine-on");
  bit(HAL_IN, &pins->programRunning, "program-running");
  bit(HAL_IN, &pins->programPaused, "program-paused");
  bit(HAL_IN, &pins->estopActive, "estop-active");
  bit(HAL_IN, &pins->inPosition, "in-position");
  flt(HAL_IN, &pins->feedOverride, "feed-override.value");
  flt(HAL_IN, &pins->spindleOverride, "spindle-override.value");
  flt(HAL_IN, &pins->spindleSpeed, "spindle-speed");
  flt(HAL_IN, &pins->feedRate, "feed-rate");
  bit(HAL_OUT, &pins->connected, "connected");
  s32(HAL_OUT, &pins->decodeErrors, "decode-errors");
  ok = ok && hal_pin_u32_newf(HAL_OUT, &pins->cycles, comp, "%s.cycles", p.c_str()) == 0;
  if (virtualPendant) {
    s32(HAL_IN, &pins->virtualPlay, "virtual.play");
    s32(HAL_OUT, &pins->virtualDone, "virtual.done");
    s32(HAL_OUT, &pins->virtualLine, "virtual.line");
  }
  if (!ok) return false;
  // Unconnected inputs read as a machine that is on, in position, at 100 %.
  *pins->inPosition = true;
  *pins->feedOverride = 1.0;
  *pins->spindleOverride = 1.0;
  *pins->feedScale = kOverrideScale;
  *pins->spindleScale = kOverrideScale;
  *pins->estopNot = true;
  return true;
}

void ReadInputs(const Pins& pins, Inputs* in) {
  for (std::size_t i = 0; i < kAxes; ++i) {
    in->position[i] = *pins.position[i];
    in->maxVelocity[i] = *pins.maxVelocity[i];
  }
  in->machineOn = *pins.machineOn;
  in->programRunning = *pins.programRunning;
  in->programPaused = *pins.programPaused;
  in->estopActive = *pins.estopActive;
  in->inPosition = *pins.inPosition;
  in->feedOverride = *pins.feedOverride;
  in->spindleOverride = *pins.spindleOverride;
  in->spindleSpeed = *pins.spindleSpeed;
  in->feedRate = *pins.feedRate;
}

void WriteOutputs(const Outputs& out, const Pins& pins) {
  for (std::size_t i = 0; i < kAxes; ++i) {
    // The scale before the counts: motion never sees new counts at an old scale.
    *pins.jogScale[i] = out.jogScale[i];
    *pins.jogCounts[i] = out.jogCounts[i];
    *pins.jogEnable[i] = out.jogEnable[i];
    *pins.jogPlus[i] = out.jogPlus[i];
    *pins.jogMinus[i] = out.jogMinus[i];
    *pins.jogVelocity[i] = out.jogVelocity[i];
  }
  for (std::size_t i = 0; i < kZeroAxes; ++i) *pins.zero[i] = out.zero[i];
  *pins.jogSpeed = out.jogSpeed;
  *pins.jogRate = out.jogRate;
  *pins.feedCounts = out.feedCounts;
  *pins.spindleCounts = out.spindleCounts;
  *pins.estop = out.estop;
  *pins.estopNot = !out.estop;
}

// The pendant's node is held open by the module: it is connected.
bool ModuleHoldsNode(const std::string& node) {
  if (node.empty()) return false;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return false;
  bool held = false;
  char target[256];
  while (dirent* e = readdir(dir)) {
    const std::string link = std::string("/proc/self/fd/") + e->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    held = held || node == target;
  }
  closedir(dir);
  return held;
}

struct Options {
  std::string prefix = "km4r";
  std::string profile;
  std::string module;
  std::vector<std::string> scenarios;
  std::string log;
  bool config = false;
  bool iniSettings = false;
};

std::string ExeDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : exe.parent_path().string();
}

std::string DefaultModule(bool virtualPendant) {
  return ExeDir() + (virtualPendant ? "/virtual/KM4R.so" : "/KM4R.so");
}

int Usage(std::ostream& o, int rc) {
  o << "usage: km4r-pendant [-n PREFIX] [--profile FILE] [--module PATH] [--virtual SCENARIO]...\n"
       "                    [--log FILE] [--ini-settings]\n"
       "       km4r-pendant config [--profile FILE] [--module PATH]\n"
       "Started by LinuxCNC: loadusr -W km4r-pendant [options]. See km4r-pendant(1).\n";
  return rc;
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "config" && i == 1) {
      o->config = true;
    } else if ((a == "-n" || a == "--name") && hasValue) {
      o->prefix = argv[++i];
    } else if (a == "--profile" && hasValue) {
      o->profile = argv[++i];
    } else if (a == "--module" && hasValue) {
      o->module = argv[++i];
    } else if (a == "--ini-settings") {
      o->iniSettings = true;
    } else if (a == "--log" && hasValue) {
      o->log = argv[++i];
    } else if (a == "--virtual" && hasValue) {
      o->scenarios.push_back(argv[++i]);
    } else {
      return false;
    }
  }
  return !o->prefix.empty() && o->prefix.size() < 30 && !(o->iniSettings && !o->profile.empty());
}

class Component {
 public:
  Component(const Options& o) : o_(o), loop_(clock_), host_(state_) { state_.record = false; }

  int Run() {
    std::string error;
    const bool virtualPendant = !o_.scenarios.empty();
    if (virtualPendant && !player_.Load(o_.scenarios, &error)) return Fail(error);
    if (o_.iniSettings) {
      const char* ini = std::getenv("INI_FILE_NAME");
      if (ini == nullptr || !iniProfile_.Make(ini, &error))
        return Fail(ini == nullptr ? "--ini-settings: LinuxCNC's INI_FILE_NAME is not set" : error);
    }
    if (!o_.log.empty()) {
      log_.open(o_.log, std::ios::app);
      if (!log_) return Fail("cannot open " + o_.log);
    }
    // Named as the program, so that `loadusr -W km4r-pendant` finds it ready.
    comp_ = hal_init(o_.prefix == "km4r" ? "km4r-pendant" : o_.prefix.c_str());
    if (comp_ < 0) return Fail("hal_init failed (is LinuxCNC's HAL running?)");
    pins_ = static_cast<Pins*>(hal_malloc(sizeof(Pins)));
    if (pins_ == nullptr || !MakePins(comp_, o_.prefix, virtualPendant, pins_)) {
      hal_exit(comp_);
      return Fail("cannot create the HAL pins");
    }
    const std::string module = o_.module.empty() ? DefaultModule(virtualPendant) : o_.module;
    if (!module_.Open(module, &error)) {
      hal_exit(comp_);
      return Fail(error);
    }
    if (virtualPendant) {
      platform::VirtualBus* bus = module_.VirtualBus != nullptr ? module_.VirtualBus() : nullptr;
      if (bus == nullptr) {
        hal_exit(comp_);
        return Fail(module + " has no virtual pendant; use the bench build of the module");
      }
      bus->Reset();
      bus->SetClock(&clock_);
      player_.Attach(bus);
    }
    hal_ready(comp_);
    state_.hooks = &host_;
    Start();
    Loop(virtualPendant);
    module_.StopPlug();
    host_.Halt();
    WriteOutputs(host_.Publish(-1), *pins_);
    state_.hooks = nullptr;
    module_.Close();
    hal_exit(comp_);
    return 0;
  }

 private:
  int Fail(const std::string& why) {
    std::cerr << "km4r-pendant: " << why << '\n';
    return 1;
  }

  void Start() {
    module_.SetCallbacks<sim::HostSim::Callbacks>();
    const std::string profile = o_.iniSettings       ? iniProfile_.path()
                                : o_.profile.empty() ? bench::DefaultProfilePath()
                                                     : o_.profile;
    std::error_code ec;
    fs::create_directories(fs::path(profile).parent_path(), ec);
    module_.SetProName(platform::HostStringArgument(profile.c_str()));
    Inputs in;
    ReadInputs(*pins_, &in);
    host_.Sample(in, clock_.NowMs());
    state_.window = &loop_;
    const host::Blocks b = state_.Blocks();
    module_.InitControl(b.a, b.b, b.c, b.d);
    module_.PostInitControl();
  }

  void Loop(bool virtualPendant) {
    bench::LiveOptions live;
    uint64_t seen = loop_.TimerMessagesDelivered();
    uint32_t cycles = 0;
    std::string node;
    bool connected = false;
    while (g_stop == 0) {
      Inputs in;
      ReadInputs(*pins_, &in);
      host_.Sample(in, clock_.NowMs());
      loop_.PumpOnce(5);
      if (loop_.TimerMessagesDelivered() == seen) continue;
      seen = loop_.TimerMessagesDelivered();
      module_.Update();
      ++cycles;
      KM4R_PendantStatusRecord status{-1, 0};
      module_.PendantStatus(&status);
      if (virtualPendant) {
        player_.Select(*pins_->virtualPlay);
        player_.Tick(log_.is_open() ? log_ : std::cout);
        connected = player_.connected();
        *pins_->virtualDone = player_.done();
        *pins_->virtualLine = player_.line();
      } else if (cycles % 8 == 0) {
        node = bench::FindPendantNode(live.sysfs);
        connected = ModuleHoldsNode(node);
      }
      *pins_->connected = connected;
      *pins_->decodeErrors = static_cast<int32_t>(status.decodeErrors & 0x7FFFFFFFu);
      *pins_->cycles = cycles;
      WriteOutputs(host_.Publish(status.jogAxis), *pins_);
    }
  }

  Options o_;
  platform::SteadyClock clock_;
  platform::MessageLoop loop_;
  sim::HostSim state_;
  PendantHost host_;
  bench::PluginModule module_;
  ScenarioPlayer player_;
  std::ofstream log_;
  IniProfile iniProfile_;
  int comp_ = -1;
  Pins* pins_ = nullptr;
};

}  // namespace
}  // namespace km4r::hal

int main(int argc, char** argv) {
  using namespace km4r::hal;
  Options o;
  if (!ParseOptions(argc, argv, &o)) return Usage(std::cerr, 2);
  if (o.config)
    return km4r::bench::RunConfig(o.module.empty() ? DefaultModule(false) : o.module,
                                  o.profile.empty() ? km4r::bench::DefaultProfilePath() : o.profile,
                                  std::cout, std::cerr);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  Component component(o);
  return component.Run();
}
