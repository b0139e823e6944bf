// A recording host for unit tests: owns the four host blocks, answers GetDRO
// and GetLED from its own tables, and records every DoButton, SetDRO and Code
// call as a line of text ("DoButton 1021", "SetDRO 818 12.5", "Code G90").
// Constructing one resets the plug-in's module state and installs it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/host_interface.h"

namespace km4r::test {

class FakeHost {
 public:
  FakeHost();
  ~FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // Recorded actions, in call order.
  std::vector<std::string> calls;
  // Reads the plug-in made (not recorded in calls).
  int getDroCalls = 0;
  int getLedCalls = 0;

  std::array<double, 1101> dro{};
  std::array<bool, 1101> led{};

  std::vector<unsigned char> blockA, blockB, blockC;
  // Stands in for the host window object (HostBlockD).
  void* window = nullptr;

  host::Blocks Blocks();
  // Installs callbacks and blocks into the module state (done by the ctor).
  void Install();
  void Clear() {
    calls.clear();
    getDroCalls = getLedCalls = 0;
  }
  int TotalCallbacks() const { return static_cast<int>(calls.size()) + getDroCalls + getLedCalls; }

  template <typename T>
  void Set(std::vector<unsigned char>& block, std::size_t at, T value) {
    host::Store(block.data(), at, value);
  }
  template <typename T>
  T Get(const std::vector<unsigned char>& block, std::size_t at) const {
    return host::Load<T>(block.data(), at);
  }
  // Host status text as the plug-in last assigned it.
  std::string StatusText() const;

  static FakeHost* current;
};

}  // namespace km4r::test
