// The host of our own: the three host memory blocks, the DRO and LED tables
// the callbacks answer from, the status text, and one recorder of the host
// actions (DoButton, SetDRO, Code) as trace lines (trace_format.h). The
// callbacks reach the host that was made last; in_process_host.h hands them
// to a plug-in linked into the program, PluginModule::SetCallbacks to a
// loaded module.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "plugin/host_interface.h"

namespace km4r::sim {

// A value per 16-bit code; negative codes are their unsigned twins.
template <typename T>
class CodeTable {
 public:
  T& operator[](int code) { return values_[static_cast<uint16_t>(code)]; }
  const T& operator[](int code) const { return values_[static_cast<uint16_t>(code)]; }
  static constexpr std::size_t size() { return kCodes; }
  void fill(T v) {
    for (std::size_t i = 0; i < kCodes; ++i) values_[i] = v;
  }

 private:
  static constexpr std::size_t kCodes = 65536;
  std::unique_ptr<T[]> values_ = std::make_unique<T[]>(kCodes);
};

class HostSim {
 public:
  // What a session with checks of its own (or a simulated machine) sees of
  // every host call. Actions reach it after they are recorded; reads before
  // they are answered, so a hook may change the answer (or run a message
  // loop first).
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

  // The six host operations as the plug-in calls them: on the current host.
  struct Callbacks {
    static void DoButton(short code);
    static void SetDro(short code, double value);
    static double GetDro(short code);
    static bool GetLed(short code);
    static void SetLed(short code, bool on);
    static void Code(const char* text);
  };

  HostSim();
  ~HostSim();
  HostSim(const HostSim&) = delete;
  HostSim& operator=(const HostSim&) = delete;

  // Recorded actions as trace lines, in call order (none while record is
  // off: recording allocates, which a session counting the plug-in's
  // allocations cannot have).
  std::vector<std::string> calls;
  bool record = true;
  // Each action's trace line as it happens (allocates too).
  std::function<void(const std::string&)> sink;
  Hooks* hooks = nullptr;
  // Reads the plug-in made (not recorded in calls).
  int getDroCalls = 0;
  int getLedCalls = 0;

  CodeTable<double> dro;
  CodeTable<bool> led;

  std::vector<unsigned char> blockA, blockB, blockC;
  // Stands in for the host window object (HostBlockD).
  void* window = nullptr;

  host::Blocks Blocks() {
    return host::Blocks{blockA.data(), blockB.data(), blockC.data(), window};
  }
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
  // The axis's jog record asks for a jog: start requested, stop not (what a
  // "DOJOG" starts).
  bool JogRequested(int axis) const;
  // Host status text as the plug-in last assigned it ("" if none).
  std::string StatusText() const;

  static HostSim* current;

 private:
  friend struct Callbacks;
  void Record(const std::string& line);
  bool Recording() const { return record || sink; }
};

}  // namespace km4r::sim
