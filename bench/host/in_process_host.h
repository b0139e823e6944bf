// The one in-process host of the tests, the fuzzers and the cycle benchmark:
// owns the four host blocks, answers GetDRO and GetLED from its own tables,
// and records every DoButton, SetDRO and Code call as a line of text
// ("DoButton 1021", "SetDRO 818 12.5", "Code G90"). Constructing one resets
// the plug-in's module state and installs it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/host_interface.h"

namespace km4r::test {

class FakeHost {
 public:
  // What a session with checks of its own sees of every host call. Actions
  // reach it after they are recorded; reads before they are answered, so a
  // hook may change the answer (or run a message loop first).
  struct Hooks {
    virtual void DoButton(short) {}
    virtual void SetDro(short, double) {}
    virtual void GetDro(short) {}
    virtual void GetLed(short) {}
    virtual void SetLed(short, bool) {}
    virtual void Code(const char*) {}

   protected:
    ~Hooks() = default;
  };

  FakeHost();
  ~FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // Recorded actions, in call order (none while record is off: recording
  // allocates, which a session counting the plug-in's allocations cannot have).
  std::vector<std::string> calls;
  bool record = true;
  Hooks* hooks = nullptr;
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
  // Starts the plug-in through its entry points as a host does: the six
  // setters, SetProName, InitControl with the blocks and hostWindow, then
  // PostInitControl.
  void Start(void* hostWindow);
  // A machine ready to jog: every axis' velocity limit 12000, jog rate 50 %,
  // feed 37.5, feed and spindle overrides 100 %, jogging enabled.
  void ReadyToJog();
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
