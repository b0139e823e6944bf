// The bench's host: the host of our own (host/host_sim.h) with the host
// window (see bench_window.h), the loaded plug-in module and a simulated
// machine, playing the host's call order. Every host action the plug-in makes
// is handed to the event sink as one trace line, then to the machine.
#pragma once

#include <functional>
#include <string>

#include "bench/bench_window.h"
#include "bench/host/host_sim.h"
#include "bench/plugin_module.h"
#include "bench/scenario_parser.h"
#include "bench/sim_machine.h"
#include "platform/clock.h"

namespace km4r::bench {

class BenchHost {
 public:
  using Sink = std::function<void(const std::string&)>;

  // One host at a time: the callbacks reach the live one.
  BenchHost(platform::Clock& clock, Sink sink);
  ~BenchHost();
  BenchHost(const BenchHost&) = delete;
  BenchHost& operator=(const BenchHost&) = delete;

  bool Load(const std::string& modulePath, std::string* error);
  // Null unless the module is the bench build with the virtual pendant.
  platform::VirtualBus* Bus() const;

  // What the module says became of the profile in its last entry point that
  // used it (see KM4R_ProfileOutcome); false when it does not say.
  bool ProfileOutcome(std::string* outcome) const;

  // The six setters and SetProName; returns the name.
  std::string Name(const std::string& profilePath);
  // Name, then InitControl and PostInitControl; returns the name.
  std::string Start(const std::string& profilePath);
  // Config with the dialog cancelled and its output discarded, so that a
  // scenario's trace stays the trace.
  void ConfigCancelled();
  // Config on the terminal as it is (the interactive `config` command).
  void ConfigInteractive();
  void Stop();
  void Update(int64_t times);
  // One 25 ms cycle of virtual time: timer messages, then machine motion.
  void Cycle();

  bool running() const { return running_; }
  // Why pendant cycles cannot run on this host, "" when they can.
  std::string Problem() const { return window_.Problem(running_); }
  sim::HostSim& state() { return state_; }
  SimMachine& machine() { return machine_; }
  // Real time between cycles: see BenchWindow::Wait.
  void Wait(int ms) { window_.Wait(ms); }

 private:
  platform::Clock& clock_;
  sim::HostSim state_;
  SimMachine machine_{state_};
  // The module is closed before the window goes: a window it left behind
  // still points at the host's.
  BenchWindow window_;
  PluginModule module_;
  bool running_ = false;
};

// Writes a settable field (see SettableFields) with a command's value.
void SetField(sim::HostSim& host, const FieldInfo& field, int index, int64_t intValue,
              double value);

}  // namespace km4r::bench
