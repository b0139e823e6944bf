// `--virtual SCENARIO`: the pendant's side of bench scenario files played in
// real time through the virtual pendant inside the bench build of the module.
// Reports, plugs, unplugs and read latency go to the virtual bus; `cycle N`
// and `tick N` wait N of the component's cycles; `show display` and
// `show report` print the last output report. Host-side commands (dro, led,
// field, machine, profile, start, stop, config, update, show of host state)
// belong to LinuxCNC here and are skipped.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "bench/scenario_parser.h"
#include "platform/virtual/virtual_bus.h"

namespace km4r::hal {

class ScenarioPlayer {
 public:
  // Reads and parses every file; false with "FILE:LINE: why".
  bool Load(const std::vector<std::string>& files, std::string* error);
  // Attaches the pendant to the bus (unless every scenario says it is absent).
  void Attach(platform::VirtualBus* bus);

  // Starts scenario n (1-based) when n differs from the one last asked for.
  void Select(int32_t n);
  // One cycle of the component: runs commands until the next wait.
  void Tick(std::ostream& out);

  int32_t done() const { return done_; }
  int32_t line() const { return line_; }
  bool connected() const;
  std::size_t count() const { return scenarios_.size(); }

 private:
  void Execute(const bench::Command& c, std::ostream& out);

  std::vector<std::vector<bench::Command>> scenarios_;
  platform::VirtualBus* bus_ = nullptr;
  int pendant_ = -1;
  int other_ = -1;
  int32_t asked_ = 0;
  int current_ = -1;
  std::size_t next_ = 0;
  int64_t wait_ = 0;
  int32_t done_ = 0;
  int32_t line_ = 0;
};

}  // namespace km4r::hal
