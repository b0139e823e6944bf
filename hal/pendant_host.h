// The plug-in's host played by LinuxCNC: the module's host actions become
// values for HAL pins (counts, scales, jog bits, pulses, the E-stop), and the
// HAL inputs become the DROs, LEDs and block fields the module reads. No HAL
// header here: hal_component.cpp copies these values to and from the pins.
#pragma once

#include <array>
#include <cstdint>

#include "bench/host/host_sim.h"

namespace km4r::hal {

inline constexpr int kAxes = 6;
inline constexpr int kZeroAxes = 4;              // the pendant zeroes X, Y, Z and A
inline constexpr double kOverrideScale = 0.001;  // one count is 0.1 %
inline constexpr int kZeroPulseCycles = 4;

struct Inputs {
  std::array<double, kAxes> position{};
  std::array<double, kAxes> maxVelocity{};  // units per second
  bool machineOn = false;
  bool programRunning = false;
  bool programPaused = false;
  bool estopActive = false;  // LinuxCNC's own E-stop
  bool inPosition = true;
  double feedOverride = 1.0;  // 1.0 is 100 %
  double spindleOverride = 1.0;
  double spindleSpeed = 0.0;
  double feedRate = 0.0;
};

struct Outputs {
  std::array<int32_t, kAxes> jogCounts{};
  std::array<double, kAxes> jogScale{};
  std::array<bool, kAxes> jogEnable{};
  std::array<bool, kAxes> jogPlus{};
  std::array<bool, kAxes> jogMinus{};
  std::array<double, kAxes> jogVelocity{};  // signed, units per minute
  std::array<bool, kZeroAxes> zero{};
  double jogSpeed = 0.0;  // units per minute
  int32_t feedCounts = 1000;
  int32_t spindleCounts = 1000;
  double jogRate = 0.0;
  bool estop = false;
};

// The host's hooks: the module's actions reach it after the host has
// recorded them; its reads are answered from the host's tables.
class PendantHost : public sim::HostSim::Hooks {
 public:
  explicit PendantHost(sim::HostSim& state);

  void DoButton(short code) override;
  void SetDro(short code, double value) override;
  void Code(const char* text) override;

  // Before each cycle: LinuxCNC's state into the host tables.
  void Sample(const Inputs& in, uint64_t nowMs);
  // After each cycle: the pin values, pulses counted down. jogAxis is the
  // module's (KM4R_PendantStatus): only that axis is jog-enabled, and only
  // while LinuxCNC allows motion.
  const Outputs& Publish(int32_t jogAxis);
  // Everything that moves the machine off (the component stops).
  void Halt();

  bool MayMove() const { return mayMove_; }
  double StepSize() const;

 private:
  struct Followed {
    short code;
    double lastIn = -1.0;
    uint64_t lastSetMs = 0;
    bool setOnce = false;
    bool reported = false;  // LinuxCNC has reported a value
  };
  void Follow(Followed& f, double value, uint64_t nowMs);

  sim::HostSim& state_;
  Outputs out_;
  std::array<double, kAxes> residual_{};
  std::array<bool, kAxes> jogging_{};
  std::array<int, kZeroAxes> zeroCycles_{};
  bool mayMove_ = false;
  uint64_t nowMs_ = 0;
  Followed feed_{821};
  Followed spindle_{74};
};

}  // namespace km4r::hal
