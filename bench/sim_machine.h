// A simulated machine behind the bench host: it applies the plug-in's
// actions to six axis positions, which it serves as DROs 800-805.
//  - "G91..." texts move the named axes incrementally ("G91G1 F100 X 0.0030",
//    "G91G1 X0.0010 Y-0.0017 "); other texts ("G90", ...) move nothing;
//  - "DOJOG" starts every axis whose jog record asks for a start (start 1,
//    stop 0); it then moves at the record's speed, in units per minute, in
//    the record's direction, until "ENDJOG";
//  - buttons 1008-1011 zero X, Y, Z, A; button 1021 toggles LED 800.
// Disabled, it does nothing and the host stays passive.
#pragma once

#include <array>
#include <cstdint>

#include "bench/host/host_sim.h"

namespace km4r::bench {

// The axis deltas of an incremental move text; false when the text is not an
// incremental move or names no axis.
bool ParseIncrementalMove(const char* text, std::array<double, 6>* delta);

// It sees the host actions as the host's hooks.
class SimMachine : public sim::HostSim::Hooks {
 public:
  explicit SimMachine(sim::HostSim& host) : host_(host) {}

  void SetEnabled(bool on);
  bool enabled() const { return enabled_; }
  // The host takes the plug-in's step size (DRO 828) as its step increment.
  void SetFollowStepSize(bool on) { followStepSize_ = on; }

  void Code(const char* text) override;
  void DoButton(short code) override;
  void SetDro(short code, double value) override;
  // Moves jogging axes for ms of machine time.
  void Advance(uint32_t ms);

  bool Jogging(int axis) const { return jogging_[static_cast<std::size_t>(axis)]; }
  double Position(int axis) const;

 private:
  sim::HostSim& host_;
  bool enabled_ = false;
  bool followStepSize_ = false;
  std::array<bool, 6> jogging_{};
};

}  // namespace km4r::bench
